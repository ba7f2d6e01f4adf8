#pragma once

#include <string>
#include <vector>

// Slowly, then a little faster each time it goes right: the speed of each pass of a loop, from
// how well the pass before it was played. A pass at or above raiseAt percent accuracy goes one
// step faster, up to the goal; one below lowerAt one step slower; a good pass at the goal ends
// the training.
struct TrainerPlan {
    int start = 60;
    int step = 5;
    int goal = 100;
    int raiseAt = 90;
    int lowerAt = 70;
};

// What keeps a plan from being trained, the first found: speeds outside 30-150 or off the 5%
// steps, a step outside 5-50 or off them, a goal below the start, thresholds outside 0-100 or
// the lower one above the other.
enum class TrainerPlanFault { None, Speed, Step, GoalBelowStart, Thresholds };
TrainerPlanFault FaultOf(const TrainerPlan& plan);

// Why a plan cannot be trained, or empty when it can.
std::string TrainerPlanError(const TrainerPlan& plan);

class TempoTrainer {
  public:
    enum class Outcome { Faster, Same, Slower, Reached };
    struct Pass {
        int speed = 0;
        double accuracy = 0;  // 0-1
    };

    // The plan must be one TrainerPlanError accepts.
    explicit TempoTrainer(TrainerPlan plan) : m_plan(plan), m_speed(plan.start) {}

    const TrainerPlan& Plan() const { return m_plan; }
    // The speed of the next pass.
    int Speed() const { return m_speed; }
    bool Finished() const { return m_finished; }
    // The fastest speed passed well so far, 0 for none.
    int Reached() const { return m_reached; }
    const std::vector<Pass>& Passes() const { return m_passes; }

    // A pass at Speed() scored; what the next pass does.
    Outcome AfterPass(double accuracy);

  private:
    TrainerPlan m_plan;
    int m_speed;
    int m_reached = 0;
    bool m_finished = false;
    std::vector<Pass> m_passes;
};
