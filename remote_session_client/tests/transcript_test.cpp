// The transcript's ring against a plain model of the rule it keeps: append,
// then drop the oldest while over the count or, keeping the newest, over the
// byte budget.
#include <algorithm>
#include <deque>
#include <string>

#include <gtest/gtest.h>

#include "remote_session_client/transcript.h"

namespace remote_session_client {
namespace {

TEST(TranscriptRing, MatchesTheRuleThroughWrapsAndBudgetDrops) {
  const std::size_t note = footprint(event::Note{});
  struct Case { std::size_t capacity; std::size_t budget; };
  for (const Case c : {Case{1, 1 << 20}, Case{4, 1 << 20}, Case{5, 3 * note + 40}, Case{7, 5 * note + 100}}) {
    Transcript transcript(c.capacity, c.budget);
    std::deque<std::string> model;
    std::size_t model_bytes = 0;
    for (int i = 0; i < 60; ++i) {
      // Mostly small notes, now and then one that forces budget drops.
      const std::string text = std::to_string(i) + std::string(i % 9 == 4 ? 90 : i % 3, 'x');
      transcript.record(event::Note{text});
      model.push_back(text);
      model_bytes += note + text.size();
      while (model.size() > c.capacity || (model_bytes > c.budget && model.size() > 1)) {
        model_bytes -= note + model.front().size();
        model.pop_front();
      }
      ASSERT_EQ(transcript.events().size(), model.size()) << c.capacity << " at " << i;
      std::size_t k = 0;
      for (const TranscriptEvent& e : transcript.events()) {
        EXPECT_EQ(std::get<event::Note>(e).text, model[k++]) << c.capacity << " at " << i;
      }
      EXPECT_EQ(transcript.bytes(), model_bytes);
      EXPECT_EQ(transcript.dropped(), static_cast<std::size_t>(i) + 1 - model.size());
    }
  }
}

// Iterators of a temporary view, as an algorithm is handed them, still
// reach the ring after the view is gone.
TEST(TranscriptRing, IteratorsOutliveTheirView) {
  Transcript transcript(3);
  for (int i = 0; i < 5; ++i) transcript.record(event::Note{std::to_string(i)});
  const auto found = std::find_if(transcript.events().begin(), transcript.events().end(),
                                  [](const TranscriptEvent& e) { return std::get<event::Note>(e).text == "3"; });
  ASSERT_NE(found, transcript.events().end());
  EXPECT_EQ(found - transcript.events().begin(), 1);
  EXPECT_EQ(std::get<event::Note>(found[1]).text, "4");
}

TEST(CapsetListing, ShowsNamedEntriesAndGivenTextsAlike) {
  CapsetListing listing;
  listing.push_back("session", 0x80b87169c39aaf1cULL);
  listing.push_back("cap_7:0x00000000000000ff");
  listing.push_back("", 1);
  const std::vector<std::string> texts{"session:0x80b87169c39aaf1c", "cap_7:0x00000000000000ff",
                                       ":0x0000000000000001"};
  EXPECT_EQ(listing.texts(), texts);
  EXPECT_TRUE(listing == texts);
  EXPECT_FALSE(listing == std::vector<std::string>(texts.begin(), texts.end() - 1));
  EXPECT_EQ(listing.text_bytes(), 3 * sizeof(std::string) + 26 + 24 + 19);
}

}  // namespace
}  // namespace remote_session_client
