// Hook chains and events: order, threading of the value, dropping, the names registry and
// the text form of events.
#include <gtest/gtest.h>

#include <vector>

#include "graphics/event.h"
#include "graphics/hook.h"
#include "runtime/text.h"

namespace {

std::vector<int> calls;

Ref<Object> Record(int, Ref<Object> data, Ref<Object> context) {
  calls.push_back(std::stoi(TextToUtf8(context->ToString())));
  return data;
}

Ref<Object> Replace(int, Ref<Object>, Ref<Object> context) { return context; }

Ref<Object> Tag(int tag) { return std::make_shared<TStringObject>(TextFromInt(tag)); }

class HookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartEvents();
    calls.clear();
    id = NewHookId();
  }
  int id = -1;
};

TEST_F(HookTest, RunsByPriorityThenInsertionOrder) {
  InsertHook(id, Record, Tag(1), 0);
  InsertHook(id, Record, Tag(2), 0);
  InsertHook(id, Record, Tag(3), 1);
  InsertHook(id, Record, Tag(4), -1);
  InsertHook(id, Record, Tag(5), 1);
  CallHooks(id, nullptr);
  EXPECT_EQ(calls, (std::vector<int>{3, 5, 1, 2, 4}));
}

TEST_F(HookTest, ThreadsTheValueThroughEveryLink) {
  Ref<Object> start = Tag(0);
  Ref<Object> middle = Tag(7);
  EXPECT_EQ(CallHooks(id, start), start);  // empty chain
  InsertHook(id, Replace, middle, 5);
  InsertHook(id, Record, Tag(9), 0);
  EXPECT_EQ(CallHooks(id, start), middle);
  EXPECT_EQ(calls, (std::vector<int>{9}));
}

TEST_F(HookTest, DropNeedsBothFunctionAndContext) {
  Ref<Object> mine = Tag(1);
  InsertHook(id, Record, mine, 0);
  DropHook(id, Record, Tag(1));  // same text, other object
  DropHook(id, Replace, mine);   // other function
  CallHooks(id, nullptr);
  EXPECT_EQ(calls.size(), 1u);
  DropHook(id, Record, mine);
  calls.clear();
  CallHooks(id, nullptr);
  EXPECT_TRUE(calls.empty());
}

Ref<Object> DropSelf(int id, Ref<Object> data, Ref<Object> context) {
  DropHook(id, DropSelf, context);
  calls.push_back(-1);
  return data;
}

TEST_F(HookTest, AHookMayDropItselfWhileTheChainRuns) {
  InsertHook(id, DropSelf, nullptr, 1);
  InsertHook(id, Record, Tag(2), 0);
  CallHooks(id, nullptr);
  CallHooks(id, nullptr);
  EXPECT_EQ(calls, (std::vector<int>{-1, 2, 2}));
}

Ref<Object> Throw(int, Ref<Object>, Ref<Object>) { throw TRuntimeError("hook failed"); }

TEST_F(HookTest, AnErrorInAHookStopsTheChain) {
  InsertHook(id, Throw, nullptr, 1);
  InsertHook(id, Record, Tag(2), 0);
  EXPECT_THROW(CallHooks(id, nullptr), TRuntimeError);
  EXPECT_TRUE(calls.empty());
}

TEST(EventNames, SystemIdsAreRegisteredAtStart) {
  StartEvents();
  EXPECT_EQ(TEvent::DescriptionForId(257), u"AppSuspend");
  EXPECT_EQ(TEvent::DescriptionForId(516), u"KeyRepeat");
  EXPECT_EQ(TEvent::DescriptionForId(1030), u"MouseLeave");
  EXPECT_EQ(TEvent::DescriptionForId(16389), u"WindowAccept");
  EXPECT_EQ(TEvent::DescriptionForId(131073), u"ProcessExit");
  EXPECT_EQ(TEvent::DescriptionForId(25), u"");  // "}25{" must not match inside 257
  EXPECT_EQ(TEvent::DescriptionForId(12345), u"");
}

TEST(EventNames, FirstRegistrationWinsAndBraceEndsAName) {
  StartEvents();
  TEvent::RegisterId(700001, u"First");
  TEvent::RegisterId(700001, u"Second");
  EXPECT_EQ(TEvent::DescriptionForId(700001), u"First");
  TEvent::RegisterId(700002, u"Cut}Here");
  EXPECT_EQ(TEvent::DescriptionForId(700002), u"Cut");
}

TEST(EventNames, UserIdsCountUpFromTheTopBit) {
  StartEvents();
  int first = AllocUserEventId(u"Tick");
  int second = AllocUserEventId(u"");
  EXPECT_LT(first, 0);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(TEvent::DescriptionForId(first), u"Tick");
  EXPECT_EQ(TEvent::DescriptionForId(second), u"");
  unsigned offset = static_cast<unsigned>(second) - 0x80000000u;
  EXPECT_EQ(CreateEvent(second, nullptr, 0, 0, 0, 0, nullptr)->ToString(),
            u"UserEvent" + TextFromInt(offset) + u": data=0, mods=0, x=0, y=0, extra=\"\"");
}

TEST(EventText, ReadsAsTheSystemWritesIt) {
  StartEvents();
  EXPECT_EQ(CreateEvent(513, nullptr, 82, 0, 0, 0, nullptr)->ToString(),
            u"KeyDown: data=82, mods=0, x=0, y=0, extra=\"\"");
  EXPECT_EQ(CreateEvent(12345, nullptr, 0, 0, 0, 0, nullptr)->ToString(),
            u"Unknown Event, id=12345: data=0, mods=0, x=0, y=0, extra=\"\"");
  auto text = std::make_shared<TStringObject>(u"note");
  EXPECT_EQ(CreateEvent(1027, nullptr, 1, 3, -4, 5, text)->ToString(),
            u"MouseMove: data=1, mods=3, x=-4, y=5, extra=\"note\"");
  // An extra object that is not a text prints nothing between the quotes.
  auto other = CreateEvent(1, nullptr, 0, 0, 0, 0, nullptr);
  EXPECT_EQ(CreateEvent(259, nullptr, 0, 0, 0, 0, other)->ToString(),
            u"AppTerminate: data=0, mods=0, x=0, y=0, extra=\"\"");
}

Ref<Object> Capture(int, Ref<Object> data, Ref<Object>) {
  auto* event = dynamic_cast<TEvent*>(data.get());
  calls.push_back(event ? event->data : -1);
  return nullptr;  // the emitter ignores what the chain answers
}

TEST(EventEmit, RunsTheEventChainWithTheEvent) {
  StartEvents();
  calls.clear();
  InsertHook(EmitEventHookId, Capture, nullptr, 100);
  EmitEvent(CreateEvent(513, nullptr, 65, 0, 0, 0, nullptr));
  TEvent onStack;
  onStack.data = 66;
  onStack.Emit();
  DropHook(EmitEventHookId, Capture, nullptr);
  EXPECT_EQ(calls, (std::vector<int>{65, 66}));
}

}  // namespace
