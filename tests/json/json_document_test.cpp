// Construction, parse and the reading operations, against the real Script
// Control under Wine.

#include "json/json_document.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "tests/json/json_test_support.h"

namespace qx {
namespace {

using test::kToken;
using test::kTokenReply;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kSample =
    R"({"s":"x","n":3600,"half":0.5,"t":true,"f":false,"z":null,"o":{"a":1,"deep":{"n":2.5}},)"
    R"("list":["one",2,{"k":"v"}],"empty":{},"none":[]})";

class JsonDocumentTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(doc.parse(kSample)); }
    JsonDocument doc;
};

// --- construction ---------------------------------------------------------

TEST(JsonDocumentConstruction, NewDocumentHoldsAnEmptyObject) {
    JsonDocument doc;
    EXPECT_TRUE(doc.hasEngine());
    EXPECT_EQ(doc.varName(), "da");
    EXPECT_EQ(doc.toText(), "{}");
    EXPECT_EQ(doc.count(), 0);
    EXPECT_EQ(doc.typeOf(), JsonType::Object);
}

// COM is entered per thread; a document must leave it as often as it entered,
// however often parse set the engine up again and however many clones share
// it. Checked on a thread of its own: CoInitialize gives S_OK only when the
// thread is out of COM again.
TEST(JsonDocumentConstruction, DocumentsAndClonesLeaveComBalanced) {
    HRESULT afterwards = E_FAIL;
    Text memberText, originalText;
    std::thread worker([&] {
        {
            auto doc = std::make_unique<JsonDocument>();
            (void)doc->parse(R"({"a":{"b":1}})");
            (void)doc->parse(R"({"a":{"b":2}})");
            auto member = doc->getMember("a");
            auto copy = doc->clone();
            copy.reset();  // the original still uses the engine
            originalText = doc->toText();
            doc.reset();   // the member has an engine of its own
            memberText = member->toText();
        }
        afterwards = ::CoInitialize(nullptr);
        if (SUCCEEDED(afterwards)) ::CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(originalText, R"({"a":{"b":2}})");
    EXPECT_EQ(memberText, R"({"b":2})");
    EXPECT_EQ(afterwards, S_OK);
}

// --- clone ----------------------------------------------------------------

TEST(JsonDocumentClone, ClonesShareOneEngineBothWays) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":1})"));
    auto copy = doc.clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->varName(), "da");
    EXPECT_EQ(copy->toText(), R"({"a":1})");
    copy->setText("b", "x");
    EXPECT_EQ(doc.getText("b"), "x");
    doc.setNumber("a", 7);
    EXPECT_EQ(copy->getText("a"), "7");
}

TEST(JsonDocumentClone, CloneOutlivesItsOriginal) {
    auto doc = std::make_unique<JsonDocument>();
    ASSERT_TRUE(doc->parse(R"({"a":"kept"})"));
    auto copy = doc->clone();
    doc.reset();
    EXPECT_EQ(copy->getText("a"), "kept");
}

// --- parse ----------------------------------------------------------------

TEST(JsonDocumentParse, TokenReplyGivesTheTokenByBracketAndByName) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(kTokenReply));
    EXPECT_EQ(doc.getText("['access_token']"), kToken);
    EXPECT_EQ(doc.getText("access_token"), kToken);
    EXPECT_EQ(doc.getText("expires_in"), "2419200");
    EXPECT_EQ(doc.getText("scope"), "tts");
}

struct ParseCase {
    const char* text;
    bool result;
    JsonType type;
    const char* toText;
};
void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class JsonDocumentParseTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(JsonDocumentParseTable, ResultTypeAndText) {
    const ParseCase& c = GetParam();
    JsonDocument doc;
    EXPECT_EQ(doc.parse(c.text), c.result) << c.text;
    EXPECT_EQ(doc.typeOf(), c.type) << c.text;
    EXPECT_EQ(doc.toText(), c.toText) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    JsonTexts, JsonDocumentParseTable,
    ::testing::Values(
        ParseCase{"", false, JsonType::Null, ""},  // holds undefined
        ParseCase{"null", false, JsonType::Null, "null"},
        ParseCase{"123", true, JsonType::Number, "123"},
        ParseCase{"true", true, JsonType::Other, "true"},
        ParseCase{"[1,2]", true, JsonType::Array, "[1,2]"},
        // A quoted string is a string: its contents are not evaluated again.
        ParseCase{R"("abc")", true, JsonType::String, R"("abc")"},
        ParseCase{R"("null")", true, JsonType::String, R"("null")"},
        ParseCase{R"("1+1")", true, JsonType::String, R"("1+1")"},
        // Line breaks and tabs as white space between tokens.
        ParseCase{"{\r\n\t\"a\" : [ 1 ,\n 2 ]\r\n}", true, JsonType::Object, R"({"a":[1,2]})"},
        // Not JSON, though valid script.
        ParseCase{"{a:1}", false, JsonType::Null, "null"},
        ParseCase{"{'a':1}", false, JsonType::Null, "null"},
        ParseCase{"1+2", false, JsonType::Null, "null"},
        ParseCase{"new Array(3)", false, JsonType::Null, "null"},
        ParseCase{"{\"a\":1", false, JsonType::Null, "null"}));

TEST(JsonDocumentParse, SecondParseReplacesTheFirstCompletely) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":1,"b":2})"));
    ASSERT_TRUE(doc.parse(R"({"c":3})"));
    EXPECT_FALSE(doc.exists("a"));
    std::vector<Text> names;
    EXPECT_EQ(doc.keys(names), 1);
    EXPECT_THAT(names, ElementsAre("c"));
}

TEST(JsonDocumentParse, FailedParseLeavesNoEarlierValue) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":1})"));
    EXPECT_FALSE(doc.parse("{oops"));
    EXPECT_EQ(doc.typeOf(), JsonType::Null);
    EXPECT_EQ(doc.getText("a"), "");
}

TEST(JsonDocumentParse, ChineseTextRoundTrips) {
    JsonDocument doc;
    // 中文, and 昞 (0x95 0x5C), whose second byte is a backslash.
    const Text chinese = "\xD6\xD0\xCE\xC4";
    const Text trailBackslash = "\x95\x5C";
    ASSERT_TRUE(doc.parse("{\"c\":\"" + chinese + "\",\"t\":\"" + trailBackslash + "'\"}"));
    EXPECT_EQ(doc.getText("c"), chinese);
    EXPECT_EQ(doc.getText("t"), trailBackslash + "'");
}

TEST(JsonDocumentParse, EscapesInsideStringsAreDecoded) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":"q\"b\\n\/\u4e2d\n"})"));
    EXPECT_EQ(doc.getText("a"), "q\"b\\n/\xD6\xD0\n");
}

// The reply comes from the network; the engine can create automation
// objects. Nothing of it may run.
TEST(JsonDocumentParse, ProbeSeesAStatementThatRuns) {
    test::ProbedDocument doc;
    EXPECT_EQ(doc.global("injected"), "undefined");
    doc.runScript("var da=eval((injected='ran',{}))");  // what evaluating the reply as script would do
    EXPECT_EQ(doc.global("injected"), "ran");
}

class JsonDocumentInjection : public ::testing::TestWithParam<const char*> {};

TEST_P(JsonDocumentInjection, ReplyNeverRuns) {
    test::ProbedDocument doc;
    EXPECT_FALSE(doc.parse(GetParam()));
    EXPECT_EQ(doc.global("injected"), "undefined");
    EXPECT_EQ(doc.typeOf(), JsonType::Null);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, JsonDocumentInjection,
    ::testing::Values(
        "(injected='ran',{})",
        "{\"a\":(injected='ran')}",
        "[\"x\",injected='ran']",
        "(function(){injected='ran';return {}})()",
        // Attempts to leave a string literal around the text.
        "{}');injected='ran';('",
        "{}\");injected='ran';(\"",
        "{}\\');injected='ran';//",
        "{}\x95\x5C');injected='ran';//",
        "{}\n;injected='ran'",
        "{}\r\ninjected='ran'",
        "{}')\r\n;injected='ran';//"));

TEST(JsonDocumentParse, QuotedScriptStaysAString) {
    test::ProbedDocument doc;
    EXPECT_TRUE(doc.parse(R"("injected='ran'")"));
    EXPECT_EQ(doc.typeOf(), JsonType::String);
    EXPECT_EQ(doc.toText(), R"("injected='ran'")");
    EXPECT_EQ(doc.global("injected"), "undefined");
}

// --- toText / getJson -------------------------------------------------------

TEST_F(JsonDocumentTest, ToTextWritesMembersInOrderWithoutTheSupportMethods) {
    EXPECT_EQ(doc.toText(), kSample);
}

TEST_F(JsonDocumentTest, GetJsonOfMembers) {
    doc.setText("q", "say \"hi\"\\");
    EXPECT_EQ(doc.getJson("q"), R"("say \"hi\"\\")");
    EXPECT_EQ(doc.getJson("n"), "3600");
    EXPECT_EQ(doc.getJson("half"), "0.5");
    EXPECT_EQ(doc.getJson("o.deep"), R"({"n":2.5})");
    EXPECT_EQ(doc.getJson("missing"), "");
}

// --- getNumber ------------------------------------------------------------

TEST_F(JsonDocumentTest, GetNumberReadsNumbersAndGivesZeroOtherwise) {
    EXPECT_EQ(doc.getNumber("n"), 3600.0);
    EXPECT_EQ(doc.getNumber("o.deep.n"), 2.5);
    EXPECT_EQ(doc.getNumber("list[1]"), 2.0);
    EXPECT_EQ(doc.getNumber("t"), -1.0);  // a boolean true reads as -1
    EXPECT_EQ(doc.getNumber("s"), 0.0);
    EXPECT_EQ(doc.getNumber("missing.x"), 0.0);
    EXPECT_TRUE(FAILED(doc.lastResult()));
}

// --- getText --------------------------------------------------------------

struct NumberTextCase {
    const char* json;
    const char* text;
};
void PrintTo(const NumberTextCase& c, std::ostream* os) { *os << c.json; }

class GetTextNumbers : public ::testing::TestWithParam<NumberTextCase> {};

TEST_P(GetTextNumbers, PrintedBySixDecimalsWithoutTrailingZeros) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(std::string("{\"a\":{\"v\":") + GetParam().json + "}}"));
    EXPECT_EQ(doc.getText("a.v"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    NumberTextRule, GetTextNumbers,
    ::testing::Values(NumberTextCase{"3600", "3600"}, NumberTextCase{"0.5", "0.5"},
                      NumberTextCase{"2.5", "2.5"}, NumberTextCase{"0.0000001", "0"},
                      NumberTextCase{"0.1234567", "0.123457"}, NumberTextCase{"-12.25", "-12.25"},
                      NumberTextCase{"0", "0"}, NumberTextCase{"2147483648", "2147483648"},
                      NumberTextCase{"1e3", "1000"}));

TEST_F(JsonDocumentTest, GetTextOfOtherKinds) {
    EXPECT_EQ(doc.getText("s"), "x");
    EXPECT_EQ(doc.getText("t"), "");
    EXPECT_EQ(doc.getText("t", true), "true");
    EXPECT_EQ(doc.getText("f", true), "false");
    EXPECT_EQ(doc.getText("o"), "");
    EXPECT_EQ(doc.getText("o", true), R"({"a":1,"deep":{"n":2.5}})");
    EXPECT_EQ(doc.getText("z"), "");
    EXPECT_EQ(doc.getText("missing"), "");
    EXPECT_EQ(doc.getText("list[0]"), "one");
}

TEST_F(JsonDocumentTest, GetTextBracketRule) {
    EXPECT_EQ(doc.getText("['s']"), "x");
    EXPECT_EQ(doc.getText("['o']", true), R"({"a":1,"deep":{"n":2.5}})");
    EXPECT_EQ(doc.getText("['list'][2].k"), "v");
    // The type test joins with ".", so a number read through brackets takes
    // the text branch and gives nothing.
    EXPECT_EQ(doc.getText("['n']"), "");
}

TEST(JsonDocumentGetText, EmptyPathGivesNothing) {
    JsonDocument doc;
    EXPECT_EQ(doc.getText(""), "");
    EXPECT_EQ(doc.getText("", true), "");
    // Also when the variable itself is a number: the read fails and no "0"
    // stands in for it.
    ASSERT_TRUE(doc.parse("42"));
    EXPECT_EQ(doc.getText(""), "");
}

// --- getMember / getArrayMember --------------------------------------------

TEST_F(JsonDocumentTest, GetMemberCopiesIntoAnEngineOfItsOwn) {
    auto member = doc.getMember("o");
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(member->toText(), R"({"a":1,"deep":{"n":2.5}})");
    member->setText("a", "changed");
    EXPECT_EQ(doc.getText("o.a"), "1");
    EXPECT_EQ(doc.getJson("o.a"), "1");
    auto byBracket = doc.getMember("['list']");
    EXPECT_EQ(byBracket->toText(), R"(["one",2,{"k":"v"}])");
    EXPECT_EQ(doc.getMember("s")->typeOf(), JsonType::String);
}

TEST_F(JsonDocumentTest, GetMemberOfMissingMemberHoldsUndefined) {
    auto member = doc.getMember("missing");
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(member->toText(), "");
    EXPECT_EQ(member->typeOf(), JsonType::Null);
    EXPECT_EQ(doc.getMember("")->toText(), "");
}

TEST_F(JsonDocumentTest, GetArrayMemberByIndex) {
    EXPECT_EQ(doc.getArrayMember(2, "list")->getText("k"), "v");
    EXPECT_EQ(doc.getArrayMember(1, "list")->typeOf(), JsonType::Number);
    EXPECT_EQ(doc.getArrayMember(9, "list")->toText(), "");
    JsonDocument array;
    ASSERT_TRUE(array.parse(R"([{"a":1},{"a":2}])"));
    EXPECT_EQ(array.getArrayMember(1)->toText(), R"({"a":2})");
}

TEST_F(JsonDocumentTest, GetArrayItemTextOnlyForStringsUnlessAsJson) {
    EXPECT_EQ(doc.getArrayItemText(0, "list"), "one");
    EXPECT_EQ(doc.getArrayItemText(1, "list"), "");
    EXPECT_EQ(doc.getArrayItemText(1, "list", true), "2");
    EXPECT_EQ(doc.getArrayItemText(2, "list", true), R"({"k":"v"})");
    EXPECT_EQ(doc.getArrayItemText(0, "list", true), R"("one")");
    EXPECT_EQ(doc.getArrayItemText(5, "list"), "");
}

// --- count ----------------------------------------------------------------

struct CountCase {
    const char* path;
    int count;
};
void PrintTo(const CountCase& c, std::ostream* os) { *os << '"' << c.path << '"'; }

class JsonDocumentCount : public JsonDocumentTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(JsonDocumentCount, DiscountsTheSupportMethods) {
    EXPECT_EQ(doc.count(GetParam().path), GetParam().count) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, JsonDocumentCount,
    ::testing::Values(CountCase{"", 10}, CountCase{"list", 3}, CountCase{"['list']", 3},
                      CountCase{"o", 2}, CountCase{"o.deep", 1}, CountCase{"empty", 0},
                      CountCase{"none", 0}, CountCase{"missing", 0}, CountCase{"z", 0},
                      CountCase{"s", 0}, CountCase{"n", 0}, CountCase{"missing.x", 0}));

// --- exists ---------------------------------------------------------------

TEST_F(JsonDocumentTest, ExistsOnlyForPresentNonNullMembers) {
    EXPECT_TRUE(doc.exists("s"));
    EXPECT_TRUE(doc.exists("f"));
    EXPECT_TRUE(doc.exists("empty"));
    EXPECT_TRUE(doc.exists("o.deep.n"));
    EXPECT_FALSE(doc.exists("z"));
    EXPECT_FALSE(doc.exists("missing"));
    EXPECT_FALSE(doc.exists("missing.x"));
}

// --- keys -----------------------------------------------------------------

TEST_F(JsonDocumentTest, KeysOfObjectsAndArrays) {
    std::vector<Text> names{"stale"};
    EXPECT_EQ(doc.keys(names, "o"), 2);
    EXPECT_THAT(names, ElementsAre("a", "deep"));
    EXPECT_EQ(doc.keys(names, "list"), 3);
    EXPECT_THAT(names, ElementsAre("0", "1", "2"));
    EXPECT_EQ(doc.keys(names), 10);
    EXPECT_EQ(names.front(), "s");
    EXPECT_EQ(names.back(), "none");
}

TEST_F(JsonDocumentTest, KeysOfMissingOrEmptyGiveNone) {
    std::vector<Text> names{"stale"};
    EXPECT_EQ(doc.keys(names, "missing"), 0);
    EXPECT_THAT(names, IsEmpty());
    names = {"stale"};
    EXPECT_EQ(doc.keys(names, "empty"), 0);
    EXPECT_THAT(names, IsEmpty());
}

TEST(JsonDocumentKeys, NamesContainingASupportMethodNameStayWhole) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse("{\"xtoJSONString\":1,\"parseJSONy\":2,\"\xD6\xD0\":3}"));
    std::vector<Text> names;
    EXPECT_EQ(doc.keys(names), 3);
    EXPECT_THAT(names, ElementsAre("xtoJSONString", "parseJSONy", "\xD6\xD0"));
}

// --- typeOf ---------------------------------------------------------------

struct TypeCase {
    const char* path;
    JsonType type;
};
void PrintTo(const TypeCase& c, std::ostream* os) { *os << '"' << c.path << '"'; }

class JsonDocumentTypeOf : public JsonDocumentTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(JsonDocumentTypeOf, EveryKind) {
    EXPECT_EQ(doc.typeOf(GetParam().path), GetParam().type) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, JsonDocumentTypeOf,
    ::testing::Values(TypeCase{"", JsonType::Object}, TypeCase{"s", JsonType::String},
                      TypeCase{"n", JsonType::Number}, TypeCase{"half", JsonType::Number},
                      TypeCase{"o", JsonType::Object}, TypeCase{"empty", JsonType::Object},
                      TypeCase{"list", JsonType::Array}, TypeCase{"none", JsonType::Array},
                      TypeCase{"t", JsonType::Other}, TypeCase{"z", JsonType::Null},
                      TypeCase{"missing", JsonType::Null}, TypeCase{"missing.x", JsonType::Other},
                      TypeCase{"toJSONString", JsonType::Other}));

TEST(JsonDocumentTypeOf, ArrayAtTheTop) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse("[]"));
    EXPECT_EQ(doc.typeOf(), JsonType::Array);
}

// --- a document without an engine -------------------------------------------

TEST(JsonDocumentWithoutEngine, EveryOperationFailsQuietly) {
    test::EngineLessDocument doc;
    EXPECT_FALSE(doc.hasEngine());
    EXPECT_TRUE(FAILED(doc.lastResult()));
    EXPECT_FALSE(doc.parse(R"({"a":1})"));
    EXPECT_FALSE(doc.hasEngine());  // parse does not retry
    EXPECT_EQ(doc.toText(), "");
    EXPECT_EQ(doc.lastResult(), E_POINTER);
    EXPECT_EQ(doc.getText("a"), "");
    EXPECT_EQ(doc.getText("a", true), "");
    EXPECT_EQ(doc.getJson("a"), "");
    EXPECT_EQ(doc.getNumber("a"), 0.0);
    EXPECT_EQ(doc.count(), 0);
    EXPECT_FALSE(doc.exists("a"));
    EXPECT_EQ(doc.typeOf(), JsonType::Other);
    std::vector<Text> names{"stale"};
    EXPECT_EQ(doc.keys(names), 0);
    EXPECT_THAT(names, IsEmpty());
    EXPECT_EQ(doc.getArrayItemText(0), "");
    auto member = doc.getMember("a");
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(member->toText(), "");
    EXPECT_EQ(doc.getArrayMember(0)->toText(), "");
    auto copy = doc.clone();
    EXPECT_FALSE(copy->hasEngine());
    EXPECT_EQ(copy->toText(), "");

    doc.setText("a", "x");
    doc.setText("a", "1", true);
    doc.setJson("a", "1");
    doc.setNumber("a", 1);
    doc.addArrayItem("x");
    doc.setArrayItem(0, "x");
    doc.removeArrayItem(0);
    doc.removeMember("a");
    doc.reset(JsonType::Array);
    doc.setRoot("x");
    doc.clear();
    EXPECT_EQ(doc.lastResult(), E_POINTER);
    EXPECT_EQ(doc.toText(), "");
}

// --- helpers --------------------------------------------------------------

TEST(NumberTextRule, HugeNumbersAreNotCutOff) {
    const Text text = numberText(1e300);
    EXPECT_EQ(text.size(), 301u);
    EXPECT_EQ(text.substr(0, 1), "1");
}

}  // namespace
}  // namespace qx
