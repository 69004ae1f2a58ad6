#include "app/steady_scroll_bar.h"

namespace vmx {

SteadyScrollBar::SteadyScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {}

void SteadyScrollBar::sliderChange(SliderChange change) {
    // With an empty range the slider fills the whole groove whatever the steps, and the arrows
    // depend on the value only: the bar looks exactly as before. A later change of range or
    // value paints it with the steps it has then.
    if (change == SliderStepsChange && minimum() == maximum())
        return;
    QScrollBar::sliderChange(change);
}

} // namespace vmx
