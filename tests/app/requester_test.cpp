// The message requester: which windows it disables, whom the box belongs
// to, and that exactly its own windows are enabled again.
#include <gmock/gmock.h>

#include "shell_fixture.h"

using ::testing::ElementsAre;

namespace {

intptr_t QuietProc(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

class RequesterTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    WNDCLASSA c{};
    c.lpfnWndProc = QuietProc;
    c.lpszClassName = "Other";
    PlatformRegisterClass(&c);
    NullPlatformClearCalls();
  }
  WindowHandle NewWindow(bool visible = true) {
    return PlatformCreateWindowEx(0, "Other", "x", visible ? WS_VISIBLE | WS_POPUP : WS_POPUP, 0, 0, 10,
                                  10, nullptr, nullptr);
  }
  uint32_t me = PlatformGetCurrentThreadId();
  uint32_t process = PlatformGetCurrentProcessId();
};

TEST_F(RequesterTest, WithNoWindowNothingIsDisabledAndTheBoxHasNoOwner) {
  NullPlatformQueueAnswer(IDYES);
  EXPECT_EQ(ShowMessageRequester("Zephyra (Party)", "Fullscreen?", MB_YESNO), IDYES);
  EXPECT_THAT(NullPlatformCalls(), ElementsAre("MessageBox(-, Zephyra (Party), Fullscreen?, 4)"));
  EXPECT_EQ(DisabledWindowList, nullptr);
}

TEST_F(RequesterTest, DisablesOnlyVisibleEnabledWindowsOfThisThreadBesidesTheForeground) {
  WindowHandle front = NewWindow();
  WindowHandle other = NewWindow();
  WindowHandle hidden = NewWindow(false);
  WindowHandle alreadyOff = NewWindow();
  WindowHandle otherThread = NewWindow();
  PlatformEnableWindow(alreadyOff, false);
  NullPlatformSetWindowOwner(otherThread, me + 1, process);
  NullPlatformSetForeground(front);
  NullPlatformClearCalls();

  NullPlatformQueueAnswer(IDOK);
  ShowErrorRequester("Error", "Could not release DC");
  EXPECT_THAT(NullPlatformCalls(), ElementsAre("EnableWindow(w2, 0)", "MessageBox(w1, Error, Could not release DC, 0)",
                                               "EnableWindow(w2, 1)"));
  EXPECT_TRUE(PlatformIsWindowEnabled(front));
  EXPECT_TRUE(PlatformIsWindowEnabled(other));
  EXPECT_TRUE(PlatformIsWindowEnabled(hidden));
  EXPECT_FALSE(PlatformIsWindowEnabled(alreadyOff));  // left as it was
  EXPECT_TRUE(PlatformIsWindowEnabled(otherThread));
  EXPECT_EQ(DisabledWindowList, nullptr);
}

TEST_F(RequesterTest, OwnerIsTheForegroundWindowOnlyWhenItIsThisProcesss) {
  WindowHandle front = NewWindow();
  NullPlatformSetForeground(front);
  NullPlatformSetWindowOwner(front, me + 7, process + 1);  // another program's window
  ShowErrorRequester("Error", "a");
  NullPlatformSetWindowOwner(front, me + 7, process);  // ours, another thread: owner, not disabled
  ShowErrorRequester("Error", "b");
  EXPECT_THAT(NullPlatformCallsStartingWith("MessageBox"),
              ElementsAre("MessageBox(-, Error, a, 0)", "MessageBox(w1, Error, b, 0)"));
  EXPECT_TRUE(NullPlatformCallsStartingWith("EnableWindow").empty());
}

TEST_F(RequesterTest, RecordsOfOtherThreadsStayLinkedAndOwnAreRemoved) {
  WindowHandle a = NewWindow();
  WindowHandle b = NewWindow();
  // A requester open in another thread has disabled a window of its own.
  auto* foreign = static_cast<DisabledWindowRecord*>(PlatformHeapAlloc(ObjectListHeap, sizeof(DisabledWindowRecord)));
  foreign->thread = me + 3;
  foreign->window = nullptr;
  DisabledWindowList = foreign;
  // Our two windows are recorded in front of it (newest first) and leave it
  // as the only record, properly unlinked.
  ShowErrorRequester("Error", "x");
  EXPECT_THAT(NullPlatformCallsStartingWith("EnableWindow"),
              ElementsAre("EnableWindow(w2, 0)", "EnableWindow(w1, 0)", "EnableWindow(w1, 1)",
                          "EnableWindow(w2, 1)"));
  ASSERT_EQ(DisabledWindowList, foreign);
  EXPECT_EQ(foreign->next, nullptr);
  EXPECT_EQ(foreign->previous, nullptr);
  EXPECT_TRUE(PlatformIsWindowEnabled(a));
  EXPECT_TRUE(PlatformIsWindowEnabled(b));
  // The other thread's requester closes: its record goes, from the middle
  // of a list as well as from the head.
  NullPlatformSetCurrentThread(me + 3);
  ShowErrorRequester("Error", "y");
  EXPECT_EQ(DisabledWindowList, nullptr);
}

TEST_F(RequesterTest, MiddleRecordsUnlinkCleanly) {
  NewWindow();
  auto make = [](uint32_t thread) {
    auto* r = static_cast<DisabledWindowRecord*>(PlatformHeapAlloc(ObjectListHeap, sizeof(DisabledWindowRecord)));
    r->thread = thread;
    return r;
  };
  // List: other(head) -> mine -> other2, then this thread's requester adds
  // and removes its own window in front.
  DisabledWindowRecord* first = make(me + 1);
  DisabledWindowRecord* mine = make(me);
  DisabledWindowRecord* last = make(me + 2);
  first->next = mine;
  mine->previous = first;
  mine->next = last;
  last->previous = mine;
  DisabledWindowList = first;
  ShowErrorRequester("Error", "z");
  ASSERT_EQ(DisabledWindowList, first);
  EXPECT_EQ(first->next, last);
  EXPECT_EQ(last->previous, first);
  EXPECT_EQ(last->next, nullptr);
}

TEST_F(RequesterTest, WithoutRecordSpaceAWindowIsNeverLeftDisabled) {
  WindowHandle w = NewWindow();
  PlatformHeapDestroy(ObjectListHeap);
  ObjectListHeap = nullptr;
  ShowErrorRequester("Error", "x");
  EXPECT_TRUE(PlatformIsWindowEnabled(w));
  EXPECT_TRUE(NullPlatformCallsStartingWith("EnableWindow").empty());
}

TEST_F(RequesterTest, NoBoxAnswersZeroAndTheTextReachesStandardError) {
  NullPlatformFail(NullStep::MessageBox);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ShowMessageRequester("Zephyra (Party)", "Fullscreen?", MB_YESNO), 0);
  ShowErrorRequester("Error", "Could not open window");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Zephyra (Party): Fullscreen?\nError: Could not open window\n");
}

}  // namespace
