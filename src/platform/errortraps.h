#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <source_location>

namespace platform {

// The three ways the program deals with a step that fails. Each runs the step and reports
// whether it completed.

// Start-up, client creation, profile building: stop here and tell the user in a message box.
bool stopAndShow(const std::function<void()> &step);
// The same with a message of the step's own ("Error" for the tuning wizard); what failed goes to
// the program's log under `where`.
bool stopAndShow(const std::function<void()> &step, const QString &message, const QString &where);

// Call handlers: put "Error:  " and what failed in the status line (show puts it there), and
// go on. The error is told by its number (an engine error's negative number) or by its
// description.
enum class ErrorText { Number, Description };
bool showInStatusLine(const std::function<void(const QString &)> &show,
                      const std::function<void()> &step, ErrorText text = ErrorText::Description);

// Event handlers, the ring, key and touch tones, the recent-call log: skip the failed step and go
// on without a word to the user. What failed goes to the program's log, one line naming the
// function that skipped it (where, by default the caller) and its place in the source. The same
// failure at the same place is logged again only after a minute, with how often it was skipped in
// between, so a step that fails on every tick cannot flood the log.
bool skipOnError(const std::function<void()> &step,
                 const std::source_location &where = std::source_location::current());

// The text of the start-up failure message.
QString formLoadErrorText();

// The program's log of the errors it tells the user "have been logged":
// $XDG_STATE_HOME/Kirrow/kirrow.log (~/.local/state/Kirrow/kirrow.log), readable by the user alone.
QString programLogPath();
// Adds one time-stamped line; a log that cannot be written loses the line, nothing else.
void logError(const QString &where, const QString &what);

// What a caught error says: an engine error's description or number, any other error's text.
QString errorDescription(const std::exception &error);
// An engine error's number; other errors, which carry none, give their description.
QString errorNumber(const std::exception &error);

} // namespace platform
