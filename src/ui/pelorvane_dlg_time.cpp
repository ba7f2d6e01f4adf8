// Keeping time in the main window: an exact speed beside the slider, the count-in before a
// start (and before each pass of a loop) and the metronome, remembered with the window state;
// the tempo trainer and its plan.

#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include "engine/speed_percent.h"
#include "ui/control_ids.h"
#include "ui/dialog_units.h"
#include "ui/pelorvane_dlg.h"
#include "ui/practice_results_window.h"
#include "ui/tempo_trainer_dialog.h"

void CPelorvaneDlg::BuildTimeControls() {
    const DialogUnits du(font());
    m_speedPercent = new QSpinBox(this);
    m_speedPercent->setObjectName(QString::number(ids::kSpeedPercent));
    m_speedPercent->setRange(kMinSpeedPercent, kMaxSpeedPercent);
    m_speedPercent->setSingleStep(kSpeedPercentStep);
    m_speedPercent->setSuffix(QStringLiteral("%"));
    m_speedPercent->setValue(SpeedPercentTable[kDefaultSpeedPosition]);
    m_speedPercent->setGeometry(du.Rect(210, 238, 31, 11));
    m_speedPercent->setFocusPolicy(Qt::StrongFocus);
    // Typed digits take effect when the box is left, not at every key.
    m_speedPercent->setKeyboardTracking(false);
    connect(m_speedPercent, &QSpinBox::valueChanged, this, &CPelorvaneDlg::OnSpeedPercentChosen);

    m_countIn = new QComboBox(this);
    m_countIn->setObjectName(QString::number(ids::kCountIn));
    m_countIn->addItem(QString::fromUtf8("カウントなし"));
    m_countIn->addItem(QString::fromUtf8("1小節カウント"));
    m_countIn->addItem(QString::fromUtf8("2小節カウント"));
    m_countIn->setGeometry(du.Rect(210, 251, 75, 12));
    m_countIn->setFocusPolicy(Qt::StrongFocus);
    connect(m_countIn, &QComboBox::currentIndexChanged, this, &CPelorvaneDlg::OnCountInChosen);

    m_metronome = new QCheckBox(QString::fromUtf8("メトロノーム"), this);
    m_metronome->setObjectName(QString::number(ids::kMetronome));
    m_metronome->setGeometry(du.Rect(242, 238, 45, 11));
    m_metronome->setFocusPolicy(Qt::StrongFocus);
    connect(m_metronome, &QCheckBox::toggled, this, &CPelorvaneDlg::SetMetronome);
}

void CPelorvaneDlg::OnSpeedPercentChosen(int percent) {
    if (!ValidSpeedPercent(percent)) {
        UpdateSpeedValue();
        return;
    }
    for (int position = 0; position < kSpeedPositions; ++position) {
        if (SpeedPercentTable[position] == percent) {
            if (m_speedSlider->value() == position) {
                OnHScroll();
            } else {
                m_speedSlider->setValue(position);  // applies it as a move of the slider does
            }
            return;
        }
    }
    m_core->SetSpeedPercent(percent);
    {
        const QSignalBlocker block(m_speedSlider);
        m_speedSlider->setValue(NearestSpeedPosition(percent));
    }
    UpdateSpeedValue();
}

void CPelorvaneDlg::SetMetronome(bool on) {
    m_core->SetMetronome(on);
    if (m_metronome->isChecked() != on) {
        const QSignalBlocker block(m_metronome);
        m_metronome->setChecked(on);
    }
    if (m_viewState && m_viewState->MetronomeOn() != on) {
        m_viewState->SetMetronomeOn(on);
    }
}

void CPelorvaneDlg::OnCountInChosen(int bars) {
    if (!m_core->SetCountInBars(bars)) {
        return;
    }
    if (m_viewState && m_viewState->CountInBars() != bars) {
        m_viewState->SetCountInBars(bars);
    }
}

void CPelorvaneDlg::SetLoopCountIn(bool on) {
    m_core->SetLoopCountIn(on);
    if (m_viewState && m_viewState->LoopCountIn() != on) {
        m_viewState->SetLoopCountIn(on);
    }
}

void CPelorvaneDlg::RestoreTimeKeeping() {
    if (!m_viewState) {
        return;
    }
    SetMetronome(m_viewState->MetronomeOn());
    const int bars = m_viewState->CountInBars();
    m_core->SetCountInBars(bars);
    SetLoopCountIn(m_viewState->LoopCountIn());
    const QSignalBlocker block(m_countIn);
    m_countIn->setCurrentIndex(bars);
}

TrainerPlan CPelorvaneDlg::ChosenTrainerPlan() const {
    return m_viewState ? m_viewState->StoredTrainerPlan() : TrainerPlan{};
}

void CPelorvaneDlg::OnTrainerSettings() {
    CTempoTrainerDialog dialog(ChosenTrainerPlan(), m_results.get());
    if (dialog.exec() == QDialog::Accepted && m_viewState) {
        m_viewState->SetTrainerPlan(dialog.Plan());
    }
}

void CPelorvaneDlg::OnTrainLoop(LoopSpan loop, int mode) {
    OnPractiseLoop(loop);
    const TrainerPlan plan = ChosenTrainerPlan();
    if (!m_trainer->Start(plan, loop, static_cast<PlayMode>(mode))) {
        return;
    }
    ShowTrainerSpeed();
    m_results->ShowTrainer(QString::fromUtf8("だんだん速く: %1% から始めます（目標 %2%）")
                               .arg(plan.start)
                               .arg(plan.goal));
}

void CPelorvaneDlg::OnRunScored(const PracticeRun& run, const PracticeSummary& summary) {
    const std::optional<TempoTrainer::Outcome> outcome = m_trainer->OnRunScored(run, summary);
    if (!outcome) {
        return;
    }
    const TempoTrainer& trainer = *m_trainer->Trainer();
    QStringList passes;
    for (const TempoTrainer::Pass& pass : trainer.Passes()) {
        passes << QString::fromUtf8("%1%（正確さ %2%）")
                      .arg(pass.speed)
                      .arg(static_cast<int>(pass.accuracy * 100.0 + 0.5));
    }
    QString text = QString::fromUtf8("だんだん速く: ") + passes.join(QString::fromUtf8(" → "));
    text += trainer.Reached() > 0 ? QString::fromUtf8("\n到達した速さ: %1%").arg(trainer.Reached())
                                  : QString::fromUtf8("\n到達した速さ: まだありません");
    if (!trainer.Finished()) {
        text += QString::fromUtf8("　次は %1%").arg(trainer.Speed());
    }
    m_results->ShowTrainer(text);
    ShowTrainerSpeed();
    if (*outcome == TempoTrainer::Outcome::Reached) {
        ShowMessage(QString::fromUtf8("目標の速さ %1% に到達しました。だんだん速くを終わります。")
                        .arg(trainer.Plan().goal)
                        .toStdString());
    }
}

void CPelorvaneDlg::ShowTrainerSpeed() {
    if (const TempoTrainer* trainer = m_trainer->Trainer()) {
        const QSignalBlocker block(m_speedSlider);
        m_speedSlider->setValue(NearestSpeedPosition(trainer->Speed()));
    }
    UpdateSpeedValue();
}
