#pragma once

#include <QScrollBar>

namespace vmx {

// A scroll bar that is not painted again when only its steps change while there is nothing to
// scroll. The message window's text ends with an empty line, so while its lines fit the view
// each answer changes the vertical bar's page step (the lines in view) but not its range; the
// bar then looks the same, yet a standard bar paints itself and the frame behind it again, which
// costs more than painting the answer's line.
class SteadyScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit SteadyScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
};

} // namespace vmx
