// Message boxes as Qt shows them. Every text also goes to the debug output,
// so that a box is on record when nobody sees the screen.
#pragma once

#include "message_boxes.h"

#include <QWidget>

namespace lumarc::infotool {

class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    BoxAnswer show(const std::string& text, const std::string& caption, BoxIcon icon,
                   BoxButtons buttons) override;

private:
    QWidget* m_parent;
};

// Whether the program is ending (a signal arrived): boxes are not shown then.
void setProgramEnding(bool ending);
bool programEnding();

} // namespace lumarc::infotool
