#include "output/mail_files.h"

#include "platform/mail.h"

namespace output {

MailOutcome MailFiles(const std::vector<std::string> &files) {
  platform::MailMessage m;
  m.attachments = files;
  const platform::MailResult r = platform::sendMail(m);
  MailOutcome out;
  out.messages = r.messages;
  out.sent = r.status == platform::MailStatus::Sent;
  if (r.status == platform::MailStatus::Failed)
    out.message = "Unable to send the message\nError 000776";
  else if (out.sent && r.messages > 1)
    out.message = "The " + std::to_string(files.size()) +
                  " files are too many for one message:\nthey were attached to " + std::to_string(r.messages) +
                  " messages.";
  return out;
}

} // namespace output
