// What any window of the program must get right: every control named, inside its parent, and
// clear of its neighbours.
#pragma once

#include <QGroupBox>
#include <QLabel>

#include <gtest/gtest.h>

namespace tarnwick::testing {

// Checks the direct children of `parent` and, below them, the controls inside every frame;
// returns how many controls it checked. Members of one control array (same name) may overlap,
// and so may a caption and the field it names.
inline int ExpectControlsLaidOut(const QWidget& parent) {
    const auto children = parent.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    const auto captionOf = [](const QWidget* caption, const QWidget* field) {
        const auto* label = qobject_cast<const QLabel*>(caption);
        return label != nullptr && label->buddy() == field;
    };
    int checked = 0;
    for (const QWidget* child : children) {
        const std::string name = child->objectName().toStdString();
        EXPECT_FALSE(name.empty());
        EXPECT_TRUE(parent.rect().contains(child->geometry())) << name << " sticks out";
        for (const QWidget* other : children)
            EXPECT_TRUE(other->objectName() == child->objectName() || captionOf(child, other) ||
                        captionOf(other, child) || !child->geometry().intersects(other->geometry()))
                << name << " overlaps " << other->objectName().toStdString();
        checked += 1 + (qobject_cast<const QGroupBox*>(child) ? ExpectControlsLaidOut(*child) : 0);
    }
    return checked;
}

} // namespace tarnwick::testing
