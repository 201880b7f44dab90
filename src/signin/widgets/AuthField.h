#pragma once

#include <QWidget>

// A titled field of the sign-in forms: the title above its control.
class AuthField final : public QWidget
{
    Q_OBJECT

public:
    // The title is an interface key; the field takes the content over.
    AuthField(const QString &titleKey, QWidget *content, QWidget *parent = nullptr);
};
