// Mailing the files of an export: all of them with one new message in the user's mail program (or as many
// messages as a long list needs).
#pragma once

#include <string>
#include <vector>

namespace output {

struct MailOutcome {
  bool sent = false;
  int messages = 0;    // messages the files went into
  std::string message; // for the user (caption "Tarvik Folvex! Mailer Message"); empty when there is nothing to say
};

// Attaches the files, in order, to a new message. The mail program failing or missing a mail program set up gives
// "Unable to send the message\nError 000776"; no xdg-email at all gives no message (a line on standard error). A
// list too long for one message goes into several, and the message says how many.
MailOutcome MailFiles(const std::vector<std::string> &files);

} // namespace output
