#include "workspace/widgets/ResultContentStack.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelSlimScrollBars.h"
#include "workspace/widgets/BusyIndicator.h"
#include "workspace/widgets/EmptyPanelPlaceholder.h"

#include <QEvent>
#include <QLabel>
#include <QScrollArea>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace {

QLabel *plainLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

} // namespace

void ResultContentStack::changeEvent(QEvent *event)
{
    // The colours below are taken from the appearance, so they follow it when it changes.
    if (event->type() == QEvent::PaletteChange)
        applyTextColours();
    QWidget::changeEvent(event);
}

void ResultContentStack::applyTextColours()
{
    QPalette secondary = m_loadingLabel->palette();
    secondary.setColor(QPalette::WindowText, KavrelSystemColors::secondaryLabel.resolve(palette()));
    m_loadingLabel->setPalette(secondary);
    // The error's red as light or as dark as it must be to read on the window; the panels'
    // surfaces lie near the window colour, hence a little room above the bare minimum.
    QPalette red = m_errorLabel->palette();
    red.setColor(QPalette::WindowText,
                 kavrelReadableOn(QColor::fromRgbF(0.90, 0.22, 0.21), palette().color(QPalette::Window), 5.0));
    m_errorLabel->setPalette(red);
}

ResultContentStack::ResultContentStack(const Options &options, QWidget *parent)
    : QWidget(parent), m_options(options), m_stack(new QStackedLayout(this)), m_loadingPage(new QWidget(this)),
      m_loadingLabel(new QLabel(m_loadingPage)), m_errorLabel(plainLabel(this)), m_fallbackLabel(plainLabel(this)),
      m_resultLabel(plainLabel(this)),
      m_empty(new EmptyPanelPlaceholder(this))
{
    auto *loading = new QVBoxLayout(m_loadingPage);
    loading->setContentsMargins(options.padding, options.padding, options.padding, options.padding);
    loading->setSpacing(10);
    loading->addWidget(new BusyIndicator(m_loadingPage));
    m_loadingLabel->setTextFormat(Qt::PlainText);
    m_loadingLabel->setWordWrap(true);
    loading->addWidget(m_loadingLabel);
    loading->addStretch(1);
    m_loadingPage->setMinimumHeight(120);

    applyTextColours();

    // A failed request still leaves a local fallback: it is shown under the error line.
    auto *errorBody = new QWidget(this);
    auto *errorLayout = new QVBoxLayout(errorBody);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    errorLayout->setSpacing(10);
    m_errorLabel->setParent(errorBody);
    m_fallbackLabel->setParent(errorBody);
    errorLayout->addWidget(m_errorLabel);
    errorLayout->addWidget(m_fallbackLabel);
    errorLayout->addStretch(1);
    m_fallbackLabel->hide();
    m_errorPage = textPage(errorBody, options.usesInternalScroll && options.errorScrolls);
    m_resultPage = textPage(m_resultLabel, options.usesInternalScroll);
    m_empty->setMinimumHeight(120);
    m_stack->addWidget(m_loadingPage);
    m_stack->addWidget(m_errorPage);
    m_stack->addWidget(m_resultPage);
    m_stack->addWidget(m_empty);
    m_stack->setCurrentWidget(m_empty);
}

QWidget *ResultContentStack::textPage(QWidget *label, bool scrolls)
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    const int padding = m_options.padding;
    layout->setContentsMargins(padding, padding, padding, padding);
    if (scrolls) {
        auto *scroll = new QScrollArea(page);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setFocusPolicy(Qt::NoFocus); // an unnamed frame; the panel's buttons take the keyboard
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->viewport()->setAutoFillBackground(false);
        KavrelSlimScrollBars::apply(scroll);
        label->setParent(scroll);
        scroll->setWidget(label);
        label->setAutoFillBackground(false);
        layout->addWidget(scroll);
    } else {
        label->setParent(page);
        layout->addWidget(label);
        layout->addStretch(1);
    }
    return page;
}

void ResultContentStack::setContent(const QString &text, const std::optional<QString> &errorMessage, bool isLoading,
                                    const QString &loadingText, const QString &emptyText)
{
    m_state = WorkspaceRules::resultContent(isLoading, errorMessage, text);
    switch (m_state) {
    case WorkspaceRules::ResultContent::loading:
        m_loadingLabel->setText(loadingText);
        m_stack->setCurrentWidget(m_loadingPage);
        break;
    case WorkspaceRules::ResultContent::error:
        m_errorLabel->setText(errorMessage.value_or(QString()));
        m_fallbackLabel->setText(text);
        m_fallbackLabel->setVisible(!text.trimmed().isEmpty());
        m_stack->setCurrentWidget(m_errorPage);
        break;
    case WorkspaceRules::ResultContent::result:
        m_resultLabel->setText(text);
        m_stack->setCurrentWidget(m_resultPage);
        break;
    case WorkspaceRules::ResultContent::empty:
        m_empty->setText(emptyText);
        m_stack->setCurrentWidget(m_empty);
        break;
    }
}

QString ResultContentStack::shownText() const
{
    switch (m_state) {
    case WorkspaceRules::ResultContent::loading:
        return m_loadingLabel->text();
    case WorkspaceRules::ResultContent::error:
        if (m_fallbackLabel->isVisibleTo(m_errorPage))
            return m_errorLabel->text() + QLatin1Char('\n') + m_fallbackLabel->text();
        return m_errorLabel->text();
    case WorkspaceRules::ResultContent::result:
        return m_resultLabel->text();
    case WorkspaceRules::ResultContent::empty:
        return m_empty->text();
    }
    return QString();
}
