// The local-time texts of the time columns.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/file_times.h"

namespace quelvane {
namespace {

// Sets TZ for one test and puts the previous value back.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (m_old) {
      setenv("TZ", m_old->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> m_old;
};

// What the C library itself makes of a time, to compare with.
std::string Reference(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local;
  if (localtime_r(&t, &local) == nullptr) return {};
  char text[64];
  const size_t n = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, n);
}

TEST(LocalTimeText, KnownInstants) {
  {
    const ZoneGuard zone("UTC0");
    LocalTimeFormatter formatter;
    EXPECT_EQ(formatter.Format(0), "1970-01-01 00:00:00");
    EXPECT_EQ(formatter.Format(-1), "1969-12-31 23:59:59");
    EXPECT_EQ(formatter.Format(1569571503), "2019-09-27 08:05:03");
    EXPECT_EQ(formatter.Format(951782400), "2000-02-29 00:00:00");  // leap day
    EXPECT_EQ(formatter.Format(253402300799), "9999-12-31 23:59:59");
  }
  {
    const ZoneGuard zone("CST-8");
    LocalTimeFormatter formatter;
    EXPECT_EQ(formatter.Format(1569571503), "2019-09-27 16:05:03");
    EXPECT_EQ(formatter.Format(1569571503 - 8 * 3600 - 3), "2019-09-27 08:05:00");
  }
}

long OffsetAt(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local;
  localtime_r(&t, &local);
  return local.tm_gmtoff;
}

TEST(LocalTimeText, AgreesWithTheCLibraryAcrossOffsetChanges) {
  struct Zone {
    const char* tz;
    int changes_in_2024;
  };
  // Summer time in Europe and America, changes at odd seconds (as in the history of many
  // zones), a half-hour summer shift, a zone without changes.
  const Zone zones[] = {{"CET-1CEST,M3.5.0,M10.5.0/3", 2},
                        {"CET-1CEST,M3.5.0/2:07:13,M10.5.0/3:00:59", 2},
                        {"PST8PDT,M3.2.0,M11.1.0", 2},
                        {"LHST-10:30LHDT-11,M10.1.0,M4.1.0", 2},
                        {"IST-5:30", 0}};
  constexpr int64_t kYear2024 = 1704067200;
  for (const Zone& z : zones) {
    const ZoneGuard zone(z.tz);
    LocalTimeFormatter formatter;
    // Find the changes of the offset in 2024, then check every 3 seconds for an hour either side.
    int changes = 0;
    for (int64_t t = kYear2024; t < kYear2024 + 366 * 86400; t += 900) {
      if (OffsetAt(t) == OffsetAt(t + 900)) continue;
      ++changes;
      for (int64_t u = t - 3600; u < t + 900 + 3600; u += 3) {
        ASSERT_EQ(formatter.Format(u), Reference(u)) << z.tz << " at " << u;
      }
    }
    EXPECT_EQ(changes, z.changes_in_2024) << z.tz;
    // A spread over two centuries.
    uint64_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      const int64_t t = static_cast<int64_t>(state >> 31) % 6311520000 - 2208988800;
      ASSERT_EQ(formatter.Format(t), Reference(t)) << z.tz << " at " << t;
    }
  }
}

TEST(LocalTimeText, UnrepresentableTimeGivesEmptyText) {
  LocalTimeFormatter formatter;
  EXPECT_EQ(formatter.Format(INT64_MAX), "");
}

TEST(FileTimeTexts, CreationTextOnlyFromABirthTime) {
  const ZoneGuard zone("UTC0");
  FileStat stat;
  stat.modified = {1569571503, 999999999};
  stat.born = {1000000000, 0};
  stat.has_birth_time = false;
  TimeTexts texts = FileTimeTexts(stat);
  EXPECT_EQ(texts.created, "");
  EXPECT_EQ(texts.modified, "2019-09-27 08:05:03");  // the fraction is cut, not rounded
  stat.has_birth_time = true;
  texts = FileTimeTexts(stat);
  EXPECT_EQ(texts.created, "2001-09-09 01:46:40");
  EXPECT_EQ(texts.modified, "2019-09-27 08:05:03");
}

}  // namespace
}  // namespace quelvane
