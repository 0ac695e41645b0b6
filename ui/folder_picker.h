// Asking the user for a folder. The dialog holds the picker as a
// function, so that tests can answer in the user's place.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

namespace vs::ui {

// Shows a folder picker titled `title`, modal to `owner`; returns the
// folder chosen, or nothing when the user cancels.
using FolderPicker =
    std::function<std::optional<QString>(QWidget* owner, const QString& title)>;

// The platform's folder picker. A choice that has no path on the file
// system counts as a cancel.
std::optional<QString> PickFolderWithPlatformDialog(QWidget* owner,
                                                    const QString& title);

}  // namespace vs::ui
