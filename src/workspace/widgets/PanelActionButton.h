#pragma once

#include <QColor>
#include <QPushButton>

#include <optional>

// A small action button of a column header ("Summarize", "Protocol", "Suggest answer"):
// bordered, or filled with its accent colour when it has one.
class PanelActionButton final : public QPushButton
{
    Q_OBJECT

public:
    explicit PanelActionButton(std::optional<QColor> accent = std::nullopt, QWidget *parent = nullptr);

    void setTexts(const QString &title, const QString &helpText);
    bool isProminent() const { return m_accent.has_value(); }

private:
    std::optional<QColor> m_accent;
};
