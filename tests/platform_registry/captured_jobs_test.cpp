// The list of captured jobs that Folvex writes and the printer monitor cancels from.
#include "platform/captured_jobs.h"
#include "test_env.h"

using namespace platform;

class CapturedJobs : public PrivateFolders {};

TEST_F(CapturedJobs, RecordsOnceForgetsAndSurvivesDamage) {
  const CapturedJob a{CapturedJob::Kind::Cups, "Folvex", 12, ""};
  const CapturedJob b{CapturedJob::Kind::Spool, "", 0, root_ + "/spool dir/00003.SHD"};
  const CapturedJob c{CapturedJob::Kind::Cups, "Other", 7, ""};
  EXPECT_TRUE(capturedJobs().empty());
  ASSERT_TRUE(recordCapturedJob(a));
  ASSERT_TRUE(recordCapturedJob(b));
  ASSERT_TRUE(recordCapturedJob(a)); // a second capture of the same job is not listed twice
  ASSERT_TRUE(recordCapturedJob(c));
  EXPECT_EQ(capturedJobs(), (std::vector<CapturedJob>{a, b, c}));
  ASSERT_TRUE(forgetCapturedJobs({a, c}));
  EXPECT_EQ(capturedJobs(), (std::vector<CapturedJob>{b}));

  // Damaged lines (unknown kind, bad or zero id, missing fields) are skipped; good lines around them are kept.
  writeFile(capturedJobsPath(), "cups\tP\tx\ncups\tP\t0\ncups\t\t5\nfax\tP\t5\nspool\t/s/1.SHD\ncups\tQ\t9");
  EXPECT_EQ(capturedJobs(), (std::vector<CapturedJob>{{CapturedJob::Kind::Spool, "", 0, "/s/1.SHD"},
                                                      {CapturedJob::Kind::Cups, "Q", 9, ""}}));
  ASSERT_TRUE(clearCapturedJobs());
  EXPECT_TRUE(capturedJobs().empty());
  EXPECT_EQ(std::filesystem::status(capturedJobsPath()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}
