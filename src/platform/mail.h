// Handing files to the user's mail program: a new message with the files attached opens there, through the
// desktop's xdg-email.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct MailMessage {
  std::string to;                       // a bare address; empty leaves the recipient to the user
  std::string subject;                  // empty: none
  std::string body;                     // empty: none
  std::vector<std::string> attachments; // files, attached in this order
};

enum class MailStatus {
  Sent,     // every message reached the mail program
  NoMailer, // there is no xdg-email to hand the message to: nothing was sent
  Failed,   // xdg-email failed: no mail program set up (3), the mail program failed (4), a file missing (2), ...
};

struct MailResult {
  MailStatus status = MailStatus::Failed;
  int messages = 0;    // messages handed to the mail program before the end or the first failure
  int exitStatus = -1; // xdg-email's exit status of the last message tried; -1 when it did not end by itself
};

// Opens new messages with the attachments in the user's mail program. The mail program takes a message as one
// mailto address, which must stay below the longest argument the system passes to a program, so the attachments
// are split into as many messages as needed, each with as many whole attachments (in order) as fit; each message
// carries the recipient, subject and body. The messages are handed over one after the other; the first failure
// ends the run. The files must stay where they are: the mail program may read them long after this returns.
//
// Waits for xdg-email to end, but at most a few seconds per message: a mail program started for the message may
// stay running (and xdg-email with it) until the user closes it, which counts as handed over.
// Without xdg-email a line goes to standard error.
MailResult sendMail(const MailMessage &message);

} // namespace platform
