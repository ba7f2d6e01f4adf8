#pragma once

#include <QDialog>
#include <QString>

#include "engine/tempo_trainer.h"

class QLabel;
class QSpinBox;

// だんだん速くの設定: the speed the training starts at, its step and its goal, and how accurate a
// pass must be to go faster, or may be before it goes slower. OK takes only a plan that can be
// trained, and otherwise says why in the dialog and keeps it open.
class CTempoTrainerDialog : public QDialog {
    Q_OBJECT

  public:
    CTempoTrainerDialog(const TrainerPlan& plan, QWidget* parent);

    // The plan as the fields hold it now.
    TrainerPlan Plan() const;
    // Why the last OK was refused; empty when it was not.
    QString Refusal() const;

    void accept() override;

  private:
    QSpinBox* m_start = nullptr;
    QSpinBox* m_step = nullptr;
    QSpinBox* m_goal = nullptr;
    QSpinBox* m_raiseAt = nullptr;
    QSpinBox* m_lowerAt = nullptr;
    QLabel* m_refusal = nullptr;
};

// What the learner is told of a plan that cannot be trained; empty for None.
QString TrainerPlanFaultText(TrainerPlanFault fault);
