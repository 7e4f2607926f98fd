#include "client/execution/tasks/task_model.h"

namespace vantrel {

const char* RunPhaseName(RunPhase phase) {
    switch (phase) {
        case RunPhase::Idle:
            return "空闲";
        case RunPhase::Due:
            return "等待开始";
        case RunPhase::Running:
            return "正在运行";
        case RunPhase::Delivering:
            return "正在交付";
        case RunPhase::Stopping:
            return "正在停止";
        case RunPhase::Ending:
            return "正在结束";
    }
    return "未知";
}

bool RunPhaseMoveAllowed(RunPhase from, RunPhase to) {
    switch (to) {
        case RunPhase::Due:
            return from == RunPhase::Idle;
        case RunPhase::Running:
            return from == RunPhase::Due;
        case RunPhase::Delivering:
            return from == RunPhase::Running;
        case RunPhase::Stopping:
            return from == RunPhase::Due || from == RunPhase::Running ||
                   from == RunPhase::Delivering;
        case RunPhase::Ending:
            return from == RunPhase::Running || from == RunPhase::Delivering;
        case RunPhase::Idle:
            // A run that failed to start or had nothing to do ends from Due.
            return from == RunPhase::Due || from == RunPhase::Stopping || from == RunPhase::Ending;
    }
    return false;
}

}  // namespace vantrel
