// Icons from the program's resources.
#pragma once

#include <QIcon>

namespace vs::ui {

// The system's standard sizes of a large and a small icon.
inline constexpr int kLargeIconSize = 32;
inline constexpr int kSmallIconSize = 16;

// The icon resource `id` with all its images; a null icon when there is
// none.
QIcon LoadIconResource(int id);

}  // namespace vs::ui
