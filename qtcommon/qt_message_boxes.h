// Message boxes as Qt shows them, for both Qt programs. Every text also goes
// to the debug output with the program's tag, so that a box is on record
// when nobody sees the screen.
#pragma once

#include "shared/message_boxes.h"

#include <QWidget>

#include <string>

namespace lumarc::qtcommon {

class QtMessageBoxes : public shared::MessageBoxes {
public:
    // tag names the program in the debug output ("Gaugery").
    explicit QtMessageBoxes(std::string tag, QWidget* parent = nullptr)
        : m_tag(std::move(tag)), m_parent(parent)
    {
    }
    void setParent(QWidget* parent) { m_parent = parent; }
    shared::BoxAnswer show(const std::string& text, const std::string& caption,
                           shared::BoxIcon icon, shared::BoxButtons buttons) override;

private:
    std::string m_tag;
    QWidget* m_parent;
};

// Whether the program is ending (a signal arrived): boxes are not shown then.
void setProgramEnding(bool ending);
bool programEnding();

} // namespace lumarc::qtcommon
