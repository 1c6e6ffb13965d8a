// How AutomationObject creates its object: the class contexts it asks for,
// the fallback from a ProgID to a CLSID text, and OleRun. Stand-in classes
// registered for this apartment take the place of the real one.

#include <gtest/gtest.h>

#include "platform/automation_object.h"
#include "platform/com_object.h"
#include "tests/support/recording_dispatch.h"

namespace qx {
namespace {

constexpr char kProgId[] = "WinHttp.WinHttpRequest.5.1";
constexpr char kClsidText[] = "{2087c2f4-2cef-4953-a8ab-66779b670495}";

// An object whose IRunnableObject::Run fails.
class NotRunnable final : public ComObject<IRunnableObject, IID_IRunnableObject> {
public:
    HRESULT STDMETHODCALLTYPE GetRunningClass(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Run(LPBINDCTX) override { return E_UNEXPECTED; }
    BOOL STDMETHODCALLTYPE IsRunning() override { return FALSE; }
    HRESULT STDMETHODCALLTYPE LockRunning(BOOL, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL) override { return S_OK; }
};

class AutomationObjectCreation : public ::testing::Test {
protected:
    ComScope com;
};

TEST_F(AutomationObjectCreation, InvalidArgumentIsRetriedWithTheNarrowerContext) {
    ComPtr<test::RecordingDispatch> fake = test::RecordingDispatch::create();
    const test::ClassOverride standIn(kProgId, fake.get(), {E_INVALIDARG});
    ASSERT_TRUE(standIn.active());
    AutomationObject object;
    EXPECT_TRUE(object.create(kProgId));
    EXPECT_EQ(standIn.attempts(), 2);
    EXPECT_EQ(object.lastResult(), S_OK);
    (void)object.call("Open", {"GET"});
    EXPECT_EQ(fake->calls().size(), 1u);
}

TEST_F(AutomationObjectCreation, OtherFailuresAreNotRetried) {
    ComPtr<test::RecordingDispatch> fake = test::RecordingDispatch::create();
    const test::ClassOverride standIn(kProgId, fake.get(), {E_ACCESSDENIED});
    AutomationObject object;
    EXPECT_FALSE(object.create(kProgId));
    EXPECT_EQ(standIn.attempts(), 1);
    EXPECT_EQ(object.lastResult(), E_ACCESSDENIED);
    EXPECT_TRUE(object.empty());
}

TEST_F(AutomationObjectCreation, AnObjectThatFailsToRunIsReleased) {
    const ComPtr<NotRunnable> notRunnable = ComPtr<NotRunnable>::attach(new NotRunnable());
    {
        const test::ClassOverride standIn(kProgId, notRunnable.get());
        AutomationObject object;
        EXPECT_FALSE(object.create(kProgId));
        EXPECT_EQ(object.lastResult(), E_UNEXPECTED);
        EXPECT_TRUE(object.empty());
    }
    EXPECT_EQ(notRunnable->references(), 1u);  // only the test's own reference is left
}

TEST_F(AutomationObjectCreation, AClsidTextServesWhenItIsNoProgId) {
    AutomationObject object;
    ASSERT_TRUE(object.create(kClsidText));
    (void)object.call("Open", {"GET", "http://127.0.0.1:1/", false});
    EXPECT_EQ(object.lastResult(), S_OK);
}

TEST_F(AutomationObjectCreation, CreatingAgainReleasesTheObjectHeldBefore) {
    ComPtr<test::RecordingDispatch> fake = test::RecordingDispatch::create();
    AutomationObject object = fake->handle();
    const ULONG held = fake->references();
    EXPECT_FALSE(object.create("No.Such.Object.1"));
    EXPECT_TRUE(object.empty());
    EXPECT_EQ(fake->references(), held - 1);
}

}  // namespace
}  // namespace qx
