#pragma once

#include <QWidget>

class SymbolTile;

// A checklist line: a dashed circle that becomes a green check once the step is done, a
// title and a subtitle. Texts are interface keys.
class StepRow final : public QWidget
{
    Q_OBJECT

public:
    StepRow(const QString &titleKey, const QString &subtitleKey, QWidget *parent = nullptr);

    void setComplete(bool complete);
    bool isComplete() const { return m_complete; }

private:
    SymbolTile *m_mark;
    bool m_complete = false;
};
