// The help viewer: shows a topic of the help file. The help file is named
// after the executable ("<dir>/vellumshaper.HLP"); on this platform it
// stands for the HTML help installed with the program, which the desktop's
// default viewer shows.
#pragma once

#include <QString>
#include <functional>

namespace vs::ui {

// The request for one topic, whose number is the request's data.
inline constexpr unsigned HELP_CONTEXT = 1;

// Asks a viewer to show the help file `help_file` as `command` and `data`
// say; false when no viewer could be started.
using HelpViewer = std::function<bool(const QString& help_file,
                                      unsigned command, unsigned data)>;

// The HTML page that stands for a request on `help_file`: for the
// help file "<bin>/NAME.HLP" the installed document is
// "<bin>/../share/doc/vellumshaper/NAME.html", and the topic T of it has
// the page "NAME-<T in hex>.html" beside it, which leads to its section.
// (A page per topic, because desktop launchers drop a file's #section.)
QString HelpPageFor(const QString& help_file, unsigned command, unsigned data);

// Opens the page for the request in the desktop's default viewer. False
// when the page is not installed or no viewer could be started.
bool OpenHelpInDesktopViewer(const QString& help_file, unsigned command,
                             unsigned data);

}  // namespace vs::ui
