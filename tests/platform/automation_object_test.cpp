#include "platform/automation_object.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <utility>

// Allocation failure on demand, for this test executable (the product's code
// is linked into it and allocates through these): with a count n of zero or
// more, n more allocations succeed and the next throws std::bad_alloc, as when
// memory has run out; the count is -1 afterwards.
static int g_allocationsBeforeFailure = -1;

void* operator new(std::size_t size) {
    if (g_allocationsBeforeFailure == 0) {
        g_allocationsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (g_allocationsBeforeFailure > 0) --g_allocationsBeforeFailure;
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace qx {
namespace {

class AutomationObjectTest : public ::testing::Test {
protected:
    ComScope com;
};

AutomationObject makeEngine() {
    AutomationObject engine;
    EXPECT_TRUE(engine.create("MSScriptControl.ScriptControl"));
    EXPECT_TRUE(engine.put("Language", "JavaScript"));
    return engine;
}

TEST_F(AutomationObjectTest, CreateByProgIdAndCallByName) {
    AutomationObject engine = makeEngine();
    ASSERT_FALSE(engine.empty());
    EXPECT_EQ(variantText(engine.get("language")), "JScript");  // names match regardless of case
    EXPECT_EQ(variantNumber(engine.call("Eval", {"40+2"})), 42.0);
    EXPECT_TRUE(variantTrue(engine.call("Eval", {"1<2"})));
    EXPECT_FALSE(variantTrue(engine.call("Eval", {"1"})));
}

TEST_F(AutomationObjectTest, UnknownProgIdFailsAndKeepsTheCode) {
    AutomationObject object;
    EXPECT_FALSE(object.create("No.Such.Object.1"));
    EXPECT_TRUE(object.empty());
    EXPECT_TRUE(FAILED(object.lastResult()));
    // Operations on an empty handle fail quietly with their empty values.
    EXPECT_EQ(variantText(object.call("Eval", {"1"})), "");
    EXPECT_EQ(object.lastResult(), E_POINTER);
    object.clear();
    EXPECT_EQ(object.lastResult(), S_OK);
}

TEST_F(AutomationObjectTest, TextCrossesAsCodePage936WhateverTheAnsiCodePage) {
    AutomationObject engine = makeEngine();
    const Text zhong = "\xD6\xD0";  // 中 in GBK
    EXPECT_EQ(variantText(engine.call("Eval", {"'" + zhong + "'"})), zhong);
    EXPECT_EQ(variantNumber(engine.call("Eval", {"'" + zhong + "'.charCodeAt(0)"})), 0x4E2D);
}

TEST_F(AutomationObjectTest, ScriptErrorKeepsHresultAndLeavesObjectUsable) {
    AutomationObject engine = makeEngine();
    EXPECT_EQ(variantText(engine.call("Eval", {"(("})), "");
    EXPECT_EQ(engine.lastResult(), DISP_E_EXCEPTION);
    EXPECT_EQ(variantNumber(engine.call("Eval", {"3"})), 3.0);
    EXPECT_EQ(engine.lastResult(), S_OK);
}

// Every allocation of each kind of call, failed in turn: the call fails with
// E_OUTOFMEMORY and its empty value, the process goes on, and the object
// answers the next call.
TEST_F(AutomationObjectTest, OutOfMemoryAnywhereInACallIsAFailedCall) {
    const std::pair<const char*, bool (*)(AutomationObject&)> calls[] = {
        {"call", [](AutomationObject& o) { return variantNumber(o.call("Eval", {"40+2"})) == 42.0; }},
        {"put", [](AutomationObject& o) { return o.put("Language", "JavaScript"); }},
        {"create", [](AutomationObject& o) { return o.create("MSScriptControl.ScriptControl"); }},
    };
    for (const auto& [name, run] : calls) {
        AutomationObject engine = makeEngine();
        int failures = 0;
        for (int n = 0; n < 100; ++n) {
            g_allocationsBeforeFailure = n;
            const bool done = run(engine);
            const bool failedAllocation = g_allocationsBeforeFailure == -1;
            g_allocationsBeforeFailure = -1;
            if (!failedAllocation) {
                EXPECT_TRUE(done) << name;
                break;
            }
            ++failures;
            EXPECT_FALSE(done) << name << ", allocation " << n;
            EXPECT_EQ(engine.lastResult(), E_OUTOFMEMORY) << name << ", allocation " << n;
        }
        EXPECT_GT(failures, 0) << name;
    }
}

TEST_F(AutomationObjectTest, CopiesShareOneObject) {
    AutomationObject engine = makeEngine();
    AutomationObject copy = engine;
    EXPECT_EQ(copy.unknown(), engine.unknown());
    (void)copy.call("AddCode", {"var shared=7"});
    EXPECT_EQ(variantNumber(engine.call("Eval", {"shared"})), 7.0);
    copy.clear();
    EXPECT_EQ(variantNumber(engine.call("Eval", {"shared"})), 7.0);
}

TEST_F(AutomationObjectTest, ResultConversionsByKind) {
    AutomationObject engine = makeEngine();
    EXPECT_EQ(variantNumber(engine.call("Eval", {"true"})), -1.0);
    EXPECT_EQ(variantNumber(engine.call("Eval", {"0.5"})), 0.5);
    EXPECT_EQ(variantNumber(engine.call("Eval", {"'12'"})), 0.0);   // strings are no numbers
    EXPECT_EQ(variantText(engine.call("Eval", {"12"})), "");        // numbers are no text
    EXPECT_TRUE(variantBytes(engine.call("Eval", {"'ab'"})).empty());
}

TEST(AutomationArgTest, BytesBecomeAByteArray) {
    const Bytes bytes{0x00, 0x41, 0xFF};
    UniqueVariant v;
    ASSERT_TRUE(AutomationArg(bytes).toVariant(v));
    EXPECT_EQ(v.type(), VT_ARRAY | VT_UI1);
    EXPECT_EQ(variantBytes(v), bytes);
}

}  // namespace
}  // namespace qx
