#include "components/step_progress_bar.h"

namespace kelvara {

TStepProgressBar::TStepProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    StartSteps(0);
}

void TStepProgressBar::StartSteps(int steps) {
    FSteps = steps > 0 ? steps : 0;
    FPosition = 0;
    Show();
}

void TStepProgressBar::StepIt() {
    ++FPosition;
    if (FPosition > FSteps) {
        FPosition = 0;
    }
    Show();
}

void TStepProgressBar::Show() {
    // A range of 0..0 makes QProgressBar animate as "busy"; 0..1 at 0 is the idle, empty bar.
    setRange(0, FSteps > 0 ? FSteps : 1);
    setValue(FPosition);
}

} // namespace kelvara
