#include <gtest/gtest.h>

#include <vector>

#include "platform/frame_handoff.h"
#include "platform/platform.h"
#include "platform/recording.h"

namespace {

enum { kIdValue = 100, kIdSpinValue = 101, kIdMode = 102 };

int g_committed = -1;

// A small dialog in the shape every owning module writes: init, spin, validate on Ok.
int ValueHandler(plat::Dialog& d, int event, int id, int delta) {
  switch (event) {
    case plat::kDlgInit:
      plat::AddControl(d, kIdValue, plat::kEdit, "Value:");
      plat::AddControl(d, kIdSpinValue, plat::kSpin, "")->buddy = kIdValue;
      plat::AddControl(d, kIdMode, plat::kDropDown, "Mode:");
      plat::AddItem(d, kIdMode, "Wide");
      plat::AddItem(d, kIdMode, "Narrow");
      plat::SetSelection(d, kIdMode, 0);
      plat::SetInt(d, kIdValue, 5);
      return 1;
    case plat::kDlgSpin: {
      int v = 0;
      if (plat::GetInt(d, kIdValue, &v)) plat::SetInt(d, kIdValue, v + delta);
      return 1;
    }
    case plat::kDlgCommand:
      if (id == plat::kIdOk) {
        int v = 0;
        if (!plat::GetInt(d, kIdValue, &v) || v < 0 || v > 10) {
          plat::MessageBox("Value", "Value is out of range!\nUse 0 to 10");
          return 1;
        }
        g_committed = v;
        plat::EndDialog(d, 1);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      return 0;
  }
  return 0;
}

TEST(RecordingBackend, ScriptedDialogValidatesAndCommits) {
  plat::rec::Reset();
  g_committed = -1;
  using A = plat::rec::DialogAction;
  plat::rec::ScriptDialog({"VALUE",
                           {A{A::kSetText, kIdValue, "12"},
                            A{A::kClick, plat::kIdOk, ""},
                            A{A::kSpin, kIdSpinValue, "", -1},
                            A{A::kSpin, kIdSpinValue, "", -1},
                            A{A::kClick, plat::kIdOk, ""}}});
  plat::Dialog d;
  d.resource = "VALUE";
  EXPECT_EQ(plat::RunDialog(d, ValueHandler), 1);
  EXPECT_EQ(g_committed, 10);
  auto& r = plat::rec::Get();
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].caption, "Value");
  EXPECT_EQ(r.messages[0].text, "Value is out of range!\nUse 0 to 10");
}

TEST(RecordingBackend, UnansweredDialogIsCancelled) {
  plat::rec::Reset();
  g_committed = -1;
  plat::Dialog d;
  d.resource = "VALUE";
  EXPECT_EQ(plat::RunDialog(d, ValueHandler), 0);
  EXPECT_EQ(g_committed, -1);
  ASSERT_EQ(plat::rec::Get().dialogsRun.size(), 1u);
}

TEST(RecordingBackend, EditParsingRefusesGarbage) {
  plat::Dialog d;
  plat::AddControl(d, 1, plat::kEdit, "");
  int v = 7;
  double x = 0;
  const char* badInts[] = {"", "abc", "12x", "99999999999999999999", "1.5"};
  for (const char* t : badInts) {
    SCOPED_TRACE(t);
    plat::SetText(d, 1, t);
    EXPECT_EQ(plat::GetInt(d, 1, &v), 0);
  }
  const char* badReals[] = {"", "abc", "12x", "nan", "inf", "1e999"};
  for (const char* t : badReals) {
    SCOPED_TRACE(t);
    plat::SetText(d, 1, t);
    EXPECT_EQ(plat::GetDouble(d, 1, &x), 0);
  }
  EXPECT_EQ(v, 7);
  plat::SetText(d, 1, " -42 ");
  EXPECT_EQ(plat::GetInt(d, 1, &v), 1);
  EXPECT_EQ(v, -42);
}

TEST(RecordingBackend, MultiSelectAnswerKeepsEmbeddedNuls) {
  plat::rec::Reset();
  plat::rec::ScriptFileDialog(1, std::string("/data\0a.k41\0b.k41\0", 19));
  char buf[256];
  plat::FileDialogRequest req;
  req.title = "Convert";
  req.multiSelect = 1;
  ASSERT_EQ(plat::FileDialog(req, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "/data");
  EXPECT_STREQ(buf + 6, "a.k41");
  EXPECT_STREQ(buf + 12, "b.k41");
  EXPECT_EQ(buf[18], 0);
  EXPECT_EQ(buf[19], 0);
  EXPECT_EQ(plat::FileDialog(req, buf, sizeof buf), 0);  // nothing scripted: cancel
}

TEST(BusyWait, WaitsAtLeastRoughlyTheDelay) {
  ASSERT_GT(plat::CalibrateDelay(), 0);
  int64_t t0 = plat::CounterNow();
  plat::BusyWaitUs(20000);
  double ms = plat::CounterMs(t0, plat::CounterNow());
  EXPECT_GT(ms, 5.0);   // generous: sanitizers and a loaded machine slow the polls
  EXPECT_LT(ms, 2000.0);
}

}  // namespace

#include "common/alloc_counter.h"

TEST(AllocCounter, SeesAllocations) {
  // A vector that escapes through a volatile pointer: the optimiser may drop
  // a bare new/delete pair, but not an allocation whose result is observed.
  alloc_counter::Start();
  auto* v = new std::vector<int>(4, 1);
  static std::vector<int>* volatile sink;
  sink = v;
  long n = alloc_counter::Stop();
  delete sink;
  EXPECT_GE(n, 1);
}

namespace {

// A program without a screen hides its pictures: neither the hand-off nor
// the backend sees them, and the recording backend's reset shows them again.
TEST(RecordingBackend, HiddenPicturesReachNeitherTheHandOffNorTheBackend) {
  plat::rec::Reset();
  const uint8_t pixels[4] = {1, 2, 3, 4};
  const int64_t published = plat::FramesPublished(plat::kWinMain);
  plat::SetPicturesShown(0);
  plat::BlitImage(pixels, 2, 2, nullptr, 0, 0, 1, 1);
  EXPECT_EQ(plat::rec::Get().blits, 0);
  EXPECT_EQ(plat::FramesPublished(plat::kWinMain), published);
  plat::rec::Reset();
  EXPECT_EQ(plat::PicturesShown(), 1);
  plat::BlitImage(pixels, 2, 2, nullptr, 0, 0, 1, 1);
  EXPECT_EQ(plat::rec::Get().blits, 1);
  EXPECT_EQ(plat::FramesPublished(plat::kWinMain), published + 1);
}

}  // namespace
