// The screen keyboard's menu: the hand to practise, and the key from which the right hand plays.

#include <QContextMenuEvent>
#include <QMenu>

#include "engine/window_core.h"
#include "ui/keyboard_panel.h"

void CKeyboardPanel::SetSplitMark(int key) {
    if (key != m_splitMark) {
        m_splitMark = key;
        update();
    }
}

void CKeyboardPanel::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_core) {
        return;
    }
    QMenu menu(this);
    const Hand current = m_core->PracticeHand();
    struct Choice {
        const char* text;
        Hand hand;
    };
    for (const Choice& choice : {Choice{"両手\tF2", Hand::Both}, Choice{"右手\tF3", Hand::Right},
                                 Choice{"左手\tF4", Hand::Left}}) {
        QAction* action = menu.addAction(QString::fromUtf8(choice.text));
        action->setCheckable(true);
        action->setChecked(choice.hand == current);
        const Hand hand = choice.hand;
        connect(action, &QAction::triggered, this, [this, hand] { emit handChosen(hand); });
    }
    // From the keyboard's own menu key the point is its middle, which also names a key.
    const int key = KeyAt(event->pos());
    if (key >= 0) {
        menu.addSeparator();
        QAction* split = menu.addAction(QString::fromUtf8("ここで左右に分ける"));
        split->setEnabled(key != m_core->SplitKey());
        connect(split, &QAction::triggered, this, [this, key] { emit splitRequested(key); });
    }
    menu.exec(event->globalPos());
}
