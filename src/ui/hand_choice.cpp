#include "ui/hand_choice.h"

#include <QToolButton>

namespace {

struct HandButton {
    Hand hand;
    const char* name;
    const char* caption;
    const char* tip;
};

const HandButton kHandButtons[] = {
    {Hand::Both, "handBoth", "両手", "練習トラックを両手で練習します。[F2]"},
    {Hand::Right, "handRight", "右手", "練習トラックの右手だけを練習します。[F3]"},
    {Hand::Left, "handLeft", "左手", "練習トラックの左手だけを練習します。[F4]"},
};

}  // namespace

CHandChoice::CHandChoice(QWidget* parent) : QWidget(parent) {
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        const HandButton& b = kHandButtons[i];
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setText(QString::fromUtf8(b.caption));
        button->setToolTip(QString::fromUtf8(b.tip));
        button->setCheckable(true);
        // F2, F3 and F4 choose from the keyboard; a focus here would only take keys from the
        // controls that use them.
        button->setFocusPolicy(Qt::NoFocus);
        const Hand hand = b.hand;
        // The button is checked only when the window takes the hand and shows it back.
        connect(button, &QToolButton::clicked, this, [this, hand] {
            Show(m_shown);
            emit handChosen(hand);
        });
        m_buttons[i] = button;
    }
    Show(Hand::Both);
}

void CHandChoice::Show(Hand hand) {
    m_shown = hand;
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        m_buttons[i]->setChecked(kHandButtons[i].hand == hand);
    }
}

QToolButton* CHandChoice::Button(Hand hand) const {
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        if (kHandButtons[i].hand == hand) {
            return m_buttons[i];
        }
    }
    return nullptr;
}

void CHandChoice::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Three equal buttons side by side that meet without gaps and fill the width.
    const int count = static_cast<int>(m_buttons.size());
    for (int i = 0; i < count; ++i) {
        const int left = width() * i / count;
        const int right = width() * (i + 1) / count;
        m_buttons[static_cast<size_t>(i)]->setGeometry(left, 0, right - left, height());
    }
}
