#include "history/widgets/KavrelHistoryAccessibleList.h"

#include "history/KavrelHistorySessionListModel.h"
#include "history/widgets/KavrelHistorySessionCardDelegate.h"
#include "history/widgets/KavrelHistorySessionList.h"
#include "kit/widgets/KavrelBoundedText.h"
#include "kit/widgets/KavrelDrawnPart.h"

#include <QPersistentModelIndex>
#include <QPointer>

#include <array>

namespace {

using Part = KavrelHistorySessionCardDelegate::Part;

// One card of the list, or one of its buttons, as long as its meeting is in the list.
class CardPart
{
public:
    CardPart(QListView *list, const QModelIndex &index) : m_list(list), m_index(index) {}

    bool exists() const { return m_list && m_index.isValid() && model() && delegate(); }
    int row() const { return m_index.row(); }
    QListView *list() const { return m_list; }
    KavrelHistorySessionListModel *model() const { return qobject_cast<KavrelHistorySessionListModel *>(m_list->model()); }
    KavrelHistorySessionCardDelegate *delegate() const
    {
        return qobject_cast<KavrelHistorySessionCardDelegate *>(m_list->itemDelegate());
    }
    const MeetingSessionHistoryListItem &item() const { return model()->item(m_index.row()); }

    QRect area(Part part) const
    {
        const QRect area = delegate()->partArea(m_list->visualRect(m_index), part);
        return QRect(m_list->viewport()->mapToGlobal(area.topLeft()), area.size());
    }

    QAccessible::State state(Part part) const
    {
        QAccessible::State state;
        if (!exists()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.focused = m_list->hasFocus() && m_list->currentIndex() == m_index && delegate()->keyboardPart() == part;
        const QRect shown(m_list->viewport()->mapToGlobal(QPoint(0, 0)), m_list->viewport()->size());
        state.invisible = !m_list->isVisible() || !shown.intersects(area(part));
        state.offscreen = state.invisible;
        return state;
    }

private:
    QPointer<QListView> m_list;
    QPersistentModelIndex m_index;
};

// Open or Delete of a card: a button that presses as a click on it does.
class CardButton final : public KavrelDrawnPart
{
public:
    CardButton(const CardPart &card, Part part) : m_card(card), m_part(part) {}

    bool isValid() const override { return m_card.exists(); }
    QAccessibleInterface *parent() const override
    {
        QAccessibleInterface *list = isValid() ? QAccessible::queryAccessibleInterface(m_card.list()) : nullptr;
        return list ? list->child(m_card.row()) : nullptr;
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QRect rect() const override { return isValid() ? m_card.area(m_part) : QRect(); }

    QAccessible::State state() const override
    {
        QAccessible::State state = m_card.state(m_part);
        state.disabled = !state.invalid && !m_card.delegate()->acceptsActions(m_card.item());
        return state;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action == pressAction() && isValid())
            m_card.delegate()->trigger(m_card.item(), m_part);
    }

protected:
    QString name() const override { return m_card.delegate()->partName(m_card.item(), m_part); }

private:
    CardPart m_card;
    Part m_part;
};

// A card: named by its title, holding Open and Delete. Its action puts the keyboard on it.
class Card final : public KavrelDrawnPart
{
public:
    static constexpr std::array<Part, 2> buttons{Part::open, Part::remove};

    Card(QListView *list, const QModelIndex &index) : m_card(list, index) {}

    ~Card() override
    {
        for (const QAccessible::Id id : m_buttons) {
            if (id)
                QAccessible::deleteAccessibleInterface(id);
        }
    }

    // Whether this is the card of `meeting` at `row` of `list`.
    bool shows(const QListView *list, int row, const QString &meeting) const
    {
        return isValid() && m_card.list() == list && m_card.row() == row && m_card.item().id == meeting;
    }
    int row() const { return m_card.row(); }

    bool isValid() const override { return m_card.exists(); }
    QAccessibleInterface *parent() const override
    {
        return isValid() ? QAccessible::queryAccessibleInterface(m_card.list()) : nullptr;
    }
    int childCount() const override { return isValid() ? int(buttons.size()) : 0; }

    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (QAccessibleInterface *known = QAccessible::accessibleInterface(m_buttons[index]))
            return known;
        auto *button = new CardButton(m_card, buttons[index]);
        m_buttons[index] = QAccessible::registerAccessibleInterface(button);
        return button;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (int i = 0; i < childCount(); ++i) {
            if (m_buttons[i] && QAccessible::accessibleInterface(m_buttons[i]) == child)
                return i;
        }
        return -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        for (int i = 0; i < childCount(); ++i) {
            if (m_card.area(buttons[i]).contains(x, y))
                return child(i);
        }
        return nullptr;
    }

    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QRect rect() const override { return isValid() ? m_card.area(Part::none) : QRect(); }
    QAccessible::State state() const override { return m_card.state(Part::none); }

    QStringList actionNames() const override { return {setFocusAction()}; }
    void doAction(const QString &action) override
    {
        if (action != setFocusAction() || !isValid())
            return;
        QListView *list = m_card.list();
        list->setCurrentIndex(list->model()->index(m_card.row(), 0));
        list->setFocus(Qt::OtherFocusReason);
    }

protected:
    QString name() const override { return m_card.delegate()->partName(m_card.item(), Part::none); }

private:
    CardPart m_card;
    mutable std::array<QAccessible::Id, 2> m_buttons{};
};

KavrelHistorySessionListModel *modelOf(const QListView *list)
{
    return qobject_cast<KavrelHistorySessionListModel *>(list->model());
}

} // namespace

KavrelHistoryAccessibleList::KavrelHistoryAccessibleList(KavrelHistorySessionList *list)
    : QAccessibleWidget(list, QAccessible::List)
    , m_words(std::make_unique<KavrelBoundedText>([this] { return KavrelBoundedText::shownWords(this); }))
{
}

KavrelHistoryAccessibleList::~KavrelHistoryAccessibleList()
{
    for (const QAccessible::Id id : std::as_const(m_cards))
        QAccessible::deleteAccessibleInterface(id);
}

KavrelHistorySessionList *KavrelHistoryAccessibleList::list() const
{
    return static_cast<KavrelHistorySessionList *>(widget());
}

int KavrelHistoryAccessibleList::childCount() const
{
    const KavrelHistorySessionListModel *model = modelOf(list());
    return model ? model->rowCount() : 0;
}

QAccessibleInterface *KavrelHistoryAccessibleList::child(int index) const
{
    if (index < 0 || index >= childCount())
        return nullptr;
    const QString meeting = modelOf(list())->item(index).id;
    if (const QAccessible::Id known = m_cards.value(meeting)) {
        auto *card = static_cast<Card *>(QAccessible::accessibleInterface(known));
        if (card && card->shows(list(), index, meeting))
            return card;
        QAccessible::deleteAccessibleInterface(known);
    }
    // Cards of meetings that left the list go with the next card made.
    for (auto it = m_cards.begin(); it != m_cards.end();) {
        QAccessibleInterface *card = QAccessible::accessibleInterface(it.value());
        if (card && card->isValid() && it.key() != meeting) {
            ++it;
            continue;
        }
        if (card)
            QAccessible::deleteAccessibleInterface(it.value());
        it = m_cards.erase(it);
    }
    auto *card = new Card(list(), modelOf(list())->index(index));
    m_cards.insert(meeting, QAccessible::registerAccessibleInterface(card));
    return card;
}

int KavrelHistoryAccessibleList::indexOfChild(const QAccessibleInterface *child) const
{
    for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it) {
        const auto *card = static_cast<const Card *>(QAccessible::accessibleInterface(it.value()));
        if (card && card == child && card->isValid())
            return card->row();
    }
    return -1;
}

void *KavrelHistoryAccessibleList::interface_cast(QAccessible::InterfaceType type)
{
    // Nobody edits the list (it offers no editable text); its text is the words it shows as a
    // whole, its name.
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(m_words.get());
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface *KavrelHistoryAccessibleList::childAt(int x, int y) const
{
    const QModelIndex index = list()->indexAt(list()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? child(index.row()) : nullptr;
}

QAccessibleInterface *KavrelHistoryAccessibleList::focusChild() const
{
    const auto *delegate = qobject_cast<KavrelHistorySessionCardDelegate *>(list()->itemDelegate());
    const QModelIndex current = list()->currentIndex();
    QAccessibleInterface *card = list()->hasFocus() && current.isValid() ? child(current.row()) : nullptr;
    if (!card || !delegate)
        return card;
    switch (delegate->keyboardPart()) {
    case Part::open:
        return card->child(0);
    case Part::remove:
        return card->child(1);
    case Part::none:
    case Part::title:
        return card;
    }
    return card;
}

void KavrelHistoryAccessibleList::announceKeyboard()
{
    if (QAccessibleInterface *focused = focusChild()) {
        QAccessibleEvent event(focused, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}
