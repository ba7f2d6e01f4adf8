#include "engine/tempo_trainer.h"

#include <algorithm>

#include "engine/speed_percent.h"

TrainerPlanFault FaultOf(const TrainerPlan& plan) {
    if (!ValidSpeedPercent(plan.start) || !ValidSpeedPercent(plan.goal)) {
        return TrainerPlanFault::Speed;
    }
    if (plan.step < kSpeedPercentStep || plan.step > 50 || plan.step % kSpeedPercentStep != 0) {
        return TrainerPlanFault::Step;
    }
    if (plan.goal < plan.start) {
        return TrainerPlanFault::GoalBelowStart;
    }
    if (plan.lowerAt < 0 || plan.raiseAt > 100 || plan.lowerAt > plan.raiseAt) {
        return TrainerPlanFault::Thresholds;
    }
    return TrainerPlanFault::None;
}

std::string TrainerPlanError(const TrainerPlan& plan) {
    switch (FaultOf(plan)) {
        case TrainerPlanFault::Speed:
            return "the start and goal speeds must be 30-150 in steps of 5";
        case TrainerPlanFault::Step:
            return "the step must be 5-50 in steps of 5";
        case TrainerPlanFault::GoalBelowStart:
            return "the goal speed must not be below the start speed";
        case TrainerPlanFault::Thresholds:
            return "the thresholds must lie within 0-100, the lower one not above the other";
        case TrainerPlanFault::None:
            break;
    }
    return {};
}

TempoTrainer::Outcome TempoTrainer::AfterPass(double accuracy) {
    m_passes.push_back({m_speed, accuracy});
    // Whole percent as shown: 89.99% is not yet 90%.
    const double percent = accuracy * 100.0 + 1e-9;
    if (percent >= m_plan.raiseAt) {
        m_reached = std::max(m_reached, m_speed);
        if (m_speed >= m_plan.goal) {
            m_finished = true;
            return Outcome::Reached;
        }
        m_speed = std::min(m_plan.goal, m_speed + m_plan.step);
        return Outcome::Faster;
    }
    if (percent < m_plan.lowerAt && m_speed - m_plan.step >= kMinSpeedPercent) {
        m_speed -= m_plan.step;
        return Outcome::Slower;
    }
    return Outcome::Same;
}
