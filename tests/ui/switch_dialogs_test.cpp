#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "platform/dialog.h"
#include "platform/recording.h"
#include "settings/settings.h"
#include "ui/switch_dialogs.h"

namespace {

using A = plat::rec::DialogAction;

class SwitchDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings();
    ResetSwitchState();
    ResetReturnData();
    plat::rec::Reset();
  }
  void TearDown() override {
    ResetSettings();
    ResetSwitchState();
    ResetReturnData();
    plat::rec::Reset();
  }

  // Runs "Set Switches" with the operator's actions; the dialog is kept for inspection.
  int RunSet(const std::vector<A>& actions) {
    plat::rec::ScriptDialog({"SETSWITCHES", actions});
    dialog_ = plat::Dialog{};
    PrepareSetSwitchesDialog(dialog_);
    return plat::RunDialog(dialog_, SetSwitchesHandler);
  }
  std::string Text(int id) { return plat::GetText(dialog_, id); }
  const std::vector<plat::rec::ShownMessage>& Messages() { return plat::rec::Get().messages; }

  plat::Dialog dialog_;
};

TEST_F(SwitchDialogTest, OpensWithTheCurrentSwitches) {
  g_settings.Units = 1;
  g_settings.Range = 7;
  g_settings.Gain = 12;
  g_settings.PulseLength = 420;
  g_settings.PulseLengthMultiplier = 1.5;
  g_settings.Frequency = 245;
  g_switch.transmitDisabled = 1;
  EXPECT_EQ(RunSet({}), 0);  // unanswered: cancelled
  EXPECT_STREQ(dialog_.title, "Set Switches");
  EXPECT_EQ(dialog_.centreX, 508);
  EXPECT_EQ(dialog_.centreY, 332);
  const plat::Control* range = plat::FindControl(dialog_, kIdSwRange);
  ASSERT_NE(range, nullptr);
  ASSERT_EQ(range->itemCount, 10);  // steps 2..11
  EXPECT_STREQ(range->items[0], "15 FT");
  EXPECT_STREQ(range->items[9], "450 FT");
  EXPECT_EQ(range->selection, 5);
  EXPECT_EQ(Text(kIdSwRange), "150 FT");
  EXPECT_EQ(Text(kIdSwGain), "12");
  EXPECT_EQ(Text(kIdSwPulse), "420");
  EXPECT_EQ(Text(kIdSwMultiplier), "1.5");
  EXPECT_EQ(Text(kIdSwFrequency), "245");
  EXPECT_EQ(Text(kIdSwTransmit), "Disable");
  EXPECT_EQ(plat::IsChecked(dialog_, kIdSwAutoPulse), 0);
  EXPECT_EQ(plat::FindControl(dialog_, kIdSwPulse)->readOnly, 0);
  // Cancelled: nothing changed.
  EXPECT_EQ(g_settings.Gain, 12);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SwitchDialogTest, AutoPulseLengthShowsTheRangesValueReadOnly) {
  g_switch.autoPulseLength = 1;
  g_settings.Range = 5;
  RunSet({});
  EXPECT_EQ(Text(kIdSwPulse), "180");
  EXPECT_EQ(plat::FindControl(dialog_, kIdSwPulse)->readOnly, 1);
  EXPECT_EQ(plat::FindControl(dialog_, kIdSwPulseSpin)->enabled, 0);

  // Auto off; choosing 10 m and ticking the box shows that range's value.
  g_switch.autoPulseLength = 0;
  g_settings.PulseLength = 700;
  EXPECT_EQ(RunSet({A{A::kSelect, kIdSwRange, "", 1}, A{A::kCheck, kIdSwAutoPulse, "", 1},
                    A{A::kSpin, kIdSwPulseSpin, "", 1}, A{A::kClick, plat::kIdOk, ""}}),
            1);
  EXPECT_EQ(Text(kIdSwPulse), "60");
  EXPECT_EQ(g_settings.Range, 3);
  EXPECT_EQ(g_switch.autoPulseLength, 1);
  EXPECT_EQ(g_settings.PulseLength, 60);
}

TEST_F(SwitchDialogTest, SpinsStepWithinTheirLimits) {
  g_settings.Gain = 19;
  g_settings.PulseLength = 2490;
  g_settings.PulseLengthMultiplier = 1.0;
  g_settings.Frequency = 255;
  std::vector<A> actions;
  for (int i = 0; i < 3; ++i) actions.push_back(A{A::kSpin, kIdSwGainSpin, "", 1});
  for (int i = 0; i < 3; ++i) actions.push_back(A{A::kSpin, kIdSwPulseSpin, "", 1});
  for (int i = 0; i < 12; ++i) actions.push_back(A{A::kSpin, kIdSwMultiplierSpin, "", 1});
  for (int i = 0; i < 3; ++i) actions.push_back(A{A::kSpin, kIdSwFrequencySpin, "", 1});
  RunSet(actions);
  EXPECT_EQ(Text(kIdSwGain), "20");
  EXPECT_EQ(Text(kIdSwPulse), "2500");
  EXPECT_EQ(Text(kIdSwMultiplier), "2.0");
  EXPECT_EQ(Text(kIdSwFrequency), "260");

  RunSet({A{A::kSetText, kIdSwGain, "1"}, A{A::kSpin, kIdSwGainSpin, "", -1},
          A{A::kSpin, kIdSwGainSpin, "", -1}, A{A::kSetText, kIdSwPulse, "40"},
          A{A::kSpin, kIdSwPulseSpin, "", -1}, A{A::kSpin, kIdSwPulseSpin, "", -1},
          A{A::kSpin, kIdSwMultiplierSpin, "", -1}, A{A::kSetText, kIdSwFrequency, "245"},
          A{A::kSpin, kIdSwFrequencySpin, "", -1}, A{A::kSpin, kIdSwFrequencySpin, "", -1}});
  EXPECT_EQ(Text(kIdSwGain), "0");
  EXPECT_EQ(Text(kIdSwPulse), "30");
  EXPECT_EQ(Text(kIdSwMultiplier), "1.0");
  EXPECT_EQ(Text(kIdSwFrequency), "240");

  // The 1700 kHz head steps by 50 kHz.
  g_switch.headTypeSetting = 9;
  g_headLimits.freqMinKHz = 1000;
  g_headLimits.freqMaxKHz = 3000;
  g_settings.Frequency = 1700;
  RunSet({A{A::kSpin, kIdSwFrequencySpin, "", 1}});
  EXPECT_EQ(Text(kIdSwFrequency), "1750");
}

TEST_F(SwitchDialogTest, MultiplierOutOfRangeIsRefusedAndRestored) {
  g_settings.PulseLengthMultiplier = 1.3;
  EXPECT_EQ(RunSet({A{A::kSetText, kIdSwMultiplier, "2.05"}, A{A::kClick, plat::kIdOk, ""}}), 0);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].caption, "Set Switches");
  EXPECT_EQ(Messages()[0].text, "Multiplier is out of range!\nUse 1.0 to 2.0");
  EXPECT_EQ(Messages()[0].icon, plat::kIconWarning);
  EXPECT_EQ(Text(kIdSwMultiplier), "1.3");
  EXPECT_DOUBLE_EQ(g_settings.PulseLengthMultiplier, 1.3);

  plat::rec::Reset();
  EXPECT_EQ(RunSet({A{A::kSetText, kIdSwMultiplier, "2.0"}, A{A::kClick, plat::kIdOk, ""}}), 1);
  EXPECT_TRUE(Messages().empty());
  EXPECT_DOUBLE_EQ(g_settings.PulseLengthMultiplier, 2.0);
}

TEST_F(SwitchDialogTest, FrequencyEntryIsRoundedOrRefused) {
  EXPECT_EQ(RunSet({A{A::kSetText, kIdSwFrequency, "252"}, A{A::kClick, plat::kIdOk, ""}}), 1);
  EXPECT_EQ(g_settings.Frequency, 250);
  EXPECT_EQ(FrequencyCode(g_settings.Frequency, 4), 84);

  EXPECT_EQ(RunSet({A{A::kSetText, kIdSwFrequency, "238"}, A{A::kClick, plat::kIdOk, ""}}), 0);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].caption, "Set Switches");
  EXPECT_EQ(Messages()[0].text, "Frequency is out of range!\nUse 240 to 260 kHz.");
  EXPECT_EQ(g_settings.Frequency, 250);

  plat::rec::Reset();
  g_headLimits.freqMinKHz = g_headLimits.freqMaxKHz = g_headLimits.headDefaultFreqKHz = 675;
  EXPECT_EQ(RunSet({A{A::kSetText, kIdSwFrequency, "680"}, A{A::kClick, plat::kIdOk, ""}}), 0);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].text, "Frequency is out of range!\nFrequency must be 675 kHz.");

  plat::rec::Reset();
  RunSet({A{A::kSetText, kIdSwFrequency, "abc"}, A{A::kClick, plat::kIdOk, ""}});
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].text, "Frequency is out of range!\nFrequency must be 675 kHz.");
}

TEST_F(SwitchDialogTest, OkAcceptsTheFrequencyAReportedHeadSet) {
  g_settings.RunMode = 0;
  ASSERT_EQ(ApplyReportedHeadType(2), 1);
  ASSERT_EQ(g_settings.Frequency, 675);
  EXPECT_EQ(RunSet({A{A::kClick, plat::kIdOk, ""}}), 1);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(g_settings.Frequency, 675);
  plat::rec::Reset();
  EXPECT_EQ(RunSet({A{A::kSetText, kIdSwFrequency, "1005"}, A{A::kClick, plat::kIdOk, ""}}), 0);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].text, "Frequency is out of range!\nUse 50 to 1000 kHz.");
}

TEST_F(SwitchDialogTest, BadGainAndPulseAreIgnoredSilently) {
  g_settings.Gain = 4;
  g_settings.PulseLength = 300;
  EXPECT_EQ(RunSet({A{A::kSetText, kIdSwGain, "25"}, A{A::kSetText, kIdSwPulse, "20"},
                    A{A::kClick, plat::kIdOk, ""}}),
            1);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(g_settings.Gain, 4);
  EXPECT_EQ(g_settings.PulseLength, 300);
  EXPECT_EQ(RunSet({A{A::kSetText, kIdSwGain, "20"}, A{A::kSetText, kIdSwPulse, "2500"},
                    A{A::kClick, plat::kIdOk, ""}}),
            1);
  EXPECT_EQ(g_settings.Gain, 20);
  EXPECT_EQ(g_settings.PulseLength, 2500);
}

TEST_F(SwitchDialogTest, DefaultsRestoreTheFactorySwitches) {
  g_settings.Units = 2;
  g_settings.Range = 9;
  g_settings.Gain = 15;
  g_settings.PulseLengthMultiplier = 1.8;
  g_settings.Frequency = 240;
  g_switch.rangeOffset = 100;
  g_switch.transmitDisabled = 1;
  EXPECT_EQ(RunSet({A{A::kClick, kIdSwDefaults, ""}, A{A::kClick, plat::kIdOk, ""}}), 1);
  EXPECT_EQ(Text(kIdSwRange), "30 YDS");
  EXPECT_EQ(Text(kIdSwGain), "3");
  EXPECT_EQ(Text(kIdSwMultiplier), "1.0");
  EXPECT_EQ(Text(kIdSwFrequency), "260");
  EXPECT_EQ(Text(kIdSwPulse), "180");
  EXPECT_EQ(g_settings.Range, 5);
  EXPECT_EQ(g_settings.Gain, 3);
  EXPECT_DOUBLE_EQ(g_settings.PulseLengthMultiplier, 1.0);
  EXPECT_EQ(g_settings.Frequency, 260);
  EXPECT_EQ(g_switch.rangeOffset, 0);
  EXPECT_EQ(g_switch.transmitDisabled, 0);
  EXPECT_EQ(g_switch.autoPulseLength, 1);
  EXPECT_EQ(g_settings.PulseLength, 180);

  // Defaults then Cancel leave everything as it was.
  g_settings.Gain = 15;
  g_switch.rangeOffset = 100;
  RunSet({A{A::kClick, kIdSwDefaults, ""}, A{A::kClick, plat::kIdCancel, ""}});
  EXPECT_EQ(g_settings.Gain, 15);
  EXPECT_EQ(g_switch.rangeOffset, 100);
}

TEST_F(SwitchDialogTest, OkSendsTheNewRangeAndTransmitState) {
  g_settings.Range = 5;
  EXPECT_EQ(RunSet({A{A::kSelect, kIdSwRange, "", 8}, A{A::kSelect, kIdSwTransmit, "", 1},
                    A{A::kClick, plat::kIdOk, ""}}),
            1);
  EXPECT_EQ(g_settings.Range, 10);
  uint8_t cmd[kSwitchCommandBytes];
  BuildSwitchCommand(cmd);
  EXPECT_EQ(cmd[3], 100);
  EXPECT_EQ(cmd[22], 1);
}

TEST_F(SwitchDialogTest, ChoosingALongerRangeLeavesHalfRange) {
  g_settings.Range = 2;
  g_settings.HalfRange = 1;
  EXPECT_EQ(RunSet({A{A::kSelect, kIdSwRange, "", 3}, A{A::kClick, plat::kIdOk, ""}}), 1);
  EXPECT_EQ(g_settings.Range, 5);
  EXPECT_EQ(g_settings.HalfRange, 0);
}

TEST_F(SwitchDialogTest, DisplaySwitchesShowsTheSwitchesInUse) {
  g_settings.RunMode = 1;
  g_settings.Units = 1;
  g_settings.Range = 5;
  g_switch.rangeOffset = 20;
  g_settings.Gain = 7;
  g_settings.PulseLength = 200;
  g_settings.Frequency = 250;
  g_switch.playbackFrequencyKHz = 675;
  plat::rec::ScriptDialog({"DISPLAYSWITCHES", {A{A::kClick, plat::kIdOk, ""}}});
  plat::Dialog d;
  PrepareDisplaySwitchesDialog(d);
  EXPECT_EQ(plat::RunDialog(d, DisplaySwitchesHandler), 1);
  EXPECT_STREQ(d.title, "Switches");
  EXPECT_EQ(d.centreX, 508);
  EXPECT_EQ(d.centreY, 332);
  EXPECT_STREQ(plat::GetText(d, kIdSwRange), "90 FT");
  EXPECT_STREQ(plat::GetText(d, kIdSwRangeOffset), "20 FT");
  EXPECT_STREQ(plat::GetText(d, kIdSwGain), "7 dB");
  EXPECT_STREQ(plat::GetText(d, kIdSwPulse), "200 usec");
  EXPECT_STREQ(plat::GetText(d, kIdSwFrequency), "675 kHz");
  for (int i = 0; i < d.count; ++i)
    EXPECT_NE(d.controls[i].kind, plat::kEdit) << "the view must not be editable";

  EXPECT_EQ(RunDisplaySwitchesDialog(), 0);  // no script: dismissed
  ASSERT_EQ(plat::rec::Get().dialogsRun.size(), 2u);
  EXPECT_EQ(plat::rec::Get().dialogsRun[1], "DISPLAYSWITCHES");
}

}  // namespace
