// `zirrafon --help` and `zirrafon --version`: the two requests a user makes of
// any command, answered on standard output before anything else happens (no
// window, no contact with a running player), then the program ends with 0.
#pragma once

#include <QStringList>
#include <optional>

// The exit status when `arguments` (without the program name) hold "--help"
// or "--version" and the answer was printed; empty for every other command
// line, which then goes to the player as always.
std::optional<int> AnswerInformationOptions(const QStringList& arguments);
