#pragma once

#include <QWidget>
#include <array>

#include "engine/practice_choice.h"

class QToolButton;

// Three small buttons, 両手 / 右手 / 左手, for the hand practised. They only show the hand the
// window holds and ask for another one; the window decides and tells them back, so the keys, the
// keyboard's menu and these buttons never disagree.
class CHandChoice : public QWidget {
    Q_OBJECT

  public:
    explicit CHandChoice(QWidget* parent);

    // Shows hand as chosen without asking for it.
    void Show(Hand hand);
    Hand Shown() const { return m_shown; }
    QToolButton* Button(Hand hand) const;

  signals:
    void handChosen(Hand hand);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    std::array<QToolButton*, 3> m_buttons{};  // both, right, left
    Hand m_shown = Hand::Both;
};
