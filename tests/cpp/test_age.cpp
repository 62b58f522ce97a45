#include "age/description.h"
#include "check.h"

using namespace lumivex;

// Settings kept by the parser that the Python class does not show.
TEST(age_keeps_start_time_linger_time_and_release_version) {
  const auto unset = AgeDescription::parse("A", "");
  CHECK_EQ(unset.start_date_time, 0u);
  CHECK_EQ(unset.linger_time, -1);
  CHECK_EQ(unset.release_version, 0u);

  const auto set = AgeDescription::parse("A", "StartDateTime=4294967295\nLingerTime=-30\nReleaseVersion=+7\n");
  CHECK_EQ(set.start_date_time, 4294967295u);
  CHECK_EQ(set.linger_time, -30);
  CHECK_EQ(set.release_version, 7u);

  const auto bad = AgeDescription::parse(
      "A", "StartDateTime=5\nStartDateTime=-1\nLingerTime=1\nLingerTime=2147483648\nReleaseVersion=4294967296");
  CHECK_EQ(bad.start_date_time, 0u);
  CHECK_EQ(bad.linger_time, -1);
  CHECK_EQ(bad.release_version, 0u);
}

// The page list is allocated once, from a bound on the number of pages, and
// gives back what a file leaves unused.
TEST(age_page_list_is_allocated_at_its_size) {
  std::string pages, equals;
  for (int i = 0; i < 1000; ++i) pages += "Page=P" + std::to_string(i) + "\n";
  for (int i = 0; i < 1000; ++i) equals += "MaxCapacity=1\n";
  CHECK_EQ(AgeDescription::parse("A", pages).pages.capacity(), 1000u);
  CHECK_EQ(AgeDescription::parse("A", equals + "Page=P").pages.capacity(), 1u);
}
