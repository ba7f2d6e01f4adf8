#include "ui/tempo_trainer_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "engine/speed_percent.h"

namespace {

QSpinBox* PercentBox(QWidget* parent, int low, int high, int step, int value) {
    auto* box = new QSpinBox(parent);
    box->setRange(low, high);
    box->setSingleStep(step);
    box->setSuffix(QStringLiteral("%"));
    box->setValue(value);
    return box;
}

}  // namespace

QString TrainerPlanFaultText(TrainerPlanFault fault) {
    switch (fault) {
        case TrainerPlanFault::Speed:
            return QString::fromUtf8(
                "始めの速さと目標の速さは、30%から150%までの5%刻みで指定してください。");
        case TrainerPlanFault::Step:
            return QString::fromUtf8("上げ幅は、5%から50%までの5%刻みで指定してください。");
        case TrainerPlanFault::GoalBelowStart:
            return QString::fromUtf8("目標の速さは、始めの速さより遅くしないでください。");
        case TrainerPlanFault::Thresholds:
            return QString::fromUtf8(
                "遅くする正確さは、速くする正確さより高くしないでください（0%から100%まで）。");
        case TrainerPlanFault::None:
            break;
    }
    return {};
}

CTempoTrainerDialog::CTempoTrainerDialog(const TrainerPlan& plan, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("だんだん速くの設定"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_start = PercentBox(this, kMinSpeedPercent, kMaxSpeedPercent, kSpeedPercentStep, plan.start);
    m_start->setObjectName(QStringLiteral("start"));
    m_step = PercentBox(this, kSpeedPercentStep, 50, kSpeedPercentStep, plan.step);
    m_step->setObjectName(QStringLiteral("step"));
    m_step->setPrefix(QStringLiteral("+"));
    m_goal = PercentBox(this, kMinSpeedPercent, kMaxSpeedPercent, kSpeedPercentStep, plan.goal);
    m_goal->setObjectName(QStringLiteral("goal"));
    m_raiseAt = PercentBox(this, 0, 100, 5, plan.raiseAt);
    m_raiseAt->setObjectName(QStringLiteral("raiseAt"));
    m_lowerAt = PercentBox(this, 0, 100, 5, plan.lowerAt);
    m_lowerAt->setObjectName(QStringLiteral("lowerAt"));
    form->addRow(QString::fromUtf8("始めの速さ"), m_start);
    form->addRow(QString::fromUtf8("上げ幅"), m_step);
    form->addRow(QString::fromUtf8("目標の速さ"), m_goal);
    form->addRow(QString::fromUtf8("この正確さ以上で速くする"), m_raiseAt);
    form->addRow(QString::fromUtf8("この正確さ未満で遅くする"), m_lowerAt);
    layout->addLayout(form);

    m_refusal = new QLabel(this);
    m_refusal->setObjectName(QStringLiteral("refusal"));
    m_refusal->setWordWrap(true);
    m_refusal->setStyleSheet(QStringLiteral("color: #c03020;"));
    m_refusal->hide();
    layout->addWidget(m_refusal);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QString::fromUtf8("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CTempoTrainerDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TrainerPlan CTempoTrainerDialog::Plan() const {
    TrainerPlan plan;
    plan.start = m_start->value();
    plan.step = m_step->value();
    plan.goal = m_goal->value();
    plan.raiseAt = m_raiseAt->value();
    plan.lowerAt = m_lowerAt->value();
    return plan;
}

QString CTempoTrainerDialog::Refusal() const {
    return m_refusal->isHidden() ? QString() : m_refusal->text();
}

void CTempoTrainerDialog::accept() {
    // Typed digits may lie between the steps the arrows take: checked as the command line does.
    const QString refusal = TrainerPlanFaultText(FaultOf(Plan()));
    m_refusal->setText(refusal);
    m_refusal->setVisible(!refusal.isEmpty());
    if (refusal.isEmpty()) {
        QDialog::accept();
    }
}
