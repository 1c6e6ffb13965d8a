// The editing operations, against the real Script Control under Wine.

#include "json/json_document.h"

#include <gtest/gtest.h>

#include "tests/json/json_test_support.h"

namespace qx {
namespace {

// Values that would break, or run inside, an unescaped string literal.
const char* const kHostileTexts[] = {
    "it's",
    "say \"hi\"",
    "back\\slash \\n \\u0041",
    "line\nbreak\r\nend\r",
    "tab\tand\x01control",
    "x');injected='ran';('",
    "x\");injected='ran';(\"",
    "\x95\x5C');injected='ran';//",  // 昞: its second byte is a backslash
    "\xD6\xD0\xCE\xC4",                // 中文
    "",
};

// --- setText --------------------------------------------------------------

TEST(JsonDocumentSetText, QuotedValueOnNewDocument) {
    JsonDocument doc;
    doc.setText("a", "x");
    EXPECT_EQ(doc.getText("a"), "x");
    EXPECT_EQ(doc.toText(), R"({"a":"x"})");
}

class JsonDocumentQuotedValues : public ::testing::TestWithParam<const char*> {};

TEST_P(JsonDocumentQuotedValues, StoredExactlyAndNeverRun) {
    test::ProbedDocument doc;
    const Text value = GetParam();
    doc.setText("a", value);
    EXPECT_EQ(doc.typeOf("a"), JsonType::String);
    EXPECT_EQ(doc.getText("a"), value);
    doc.addArrayItem(value, "list");
    EXPECT_EQ(doc.getArrayItemText(0, "list"), value);
    doc.setRoot(value);
    EXPECT_EQ(doc.typeOf(), JsonType::String);
    doc.reset(JsonType::Array);
    doc.setArrayItem(0, value);
    EXPECT_EQ(doc.getArrayItemText(0), value);
    EXPECT_EQ(doc.global("injected"), "undefined");
}

INSTANTIATE_TEST_SUITE_P(Hostile, JsonDocumentQuotedValues, ::testing::ValuesIn(kHostileTexts));

TEST(JsonDocumentSetText, JsonValue) {
    JsonDocument doc;
    doc.setText("a", R"({"b":[1,"two"]})", true);
    EXPECT_EQ(doc.toText(), R"({"a":{"b":[1,"two"]}})");
    doc.setText("s", R"("1+1")", true);  // a JSON string stays that string
    EXPECT_EQ(doc.getText("s"), "1+1");
}

TEST(JsonDocumentSetText, EmptyJsonValueIsAnEmptyObject) {
    JsonDocument doc;
    doc.setText("a", "", true);
    EXPECT_EQ(doc.typeOf("a"), JsonType::Object);
    EXPECT_EQ(doc.toText(), R"({"a":{}})");
}

TEST(JsonDocumentSetText, MissingParentOrEmptyPathChangesNothing) {
    JsonDocument doc;
    doc.setText("", "x");
    doc.setJson("", "[1]");
    doc.setNumber("", 1);
    EXPECT_EQ(doc.toText(), "{}");
    doc.setText("a.b", "x");
    doc.setText("a.b", "1", true);
    doc.setNumber("a.b", 1);
    EXPECT_TRUE(FAILED(doc.lastResult()));
    EXPECT_EQ(doc.toText(), "{}");
}

// A JSON value that is not JSON leaves the document as it was, and nothing
// of it runs: the same texts for every operation that takes JSON.
const char* const kNotJson[] = {
    "injected='ran'",
    "(function(){injected='ran';return 1})()",
    "{a:(injected='ran')}",
    "{}');injected='ran';('",
    "1+1",
    "{",
};

class JsonDocumentNotJson : public ::testing::TestWithParam<const char*> {};

TEST_P(JsonDocumentNotJson, LeavesTheDocumentUnchanged) {
    test::ProbedDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":"before","list":[1]})"));
    const Text before = doc.toText();
    doc.setText("a", GetParam(), true);
    doc.setJson("a", GetParam());
    doc.addArrayItem(GetParam(), "list", true);
    doc.addArrayItem(GetParam(), "a", true);  // would first turn "a" into an array
    doc.setArrayItem(0, GetParam(), true);
    doc.setRoot(GetParam(), true);
    EXPECT_EQ(doc.toText(), before);
    EXPECT_EQ(doc.global("injected"), "undefined");
}

INSTANTIATE_TEST_SUITE_P(Values, JsonDocumentNotJson, ::testing::ValuesIn(kNotJson));

// --- setJson --------------------------------------------------------------

TEST(JsonDocumentSetJson, SetsEvaluatedJson) {
    JsonDocument doc;
    doc.setJson("a", "[1,2,3]");
    EXPECT_EQ(doc.count("a"), 3);
    doc.setJson("b", "true");
    EXPECT_EQ(doc.getText("b", true), "true");
    EXPECT_EQ(doc.toText(), R"({"a":[1,2,3],"b":true})");
}

TEST(JsonDocumentSetJson, EmptyValueMakesTheMemberUndefined) {
    JsonDocument doc;
    doc.setJson("a", "1");
    doc.setJson("a", "");
    EXPECT_FALSE(doc.exists("a"));
    EXPECT_EQ(doc.toText(), "{}");
}

// --- setNumber ------------------------------------------------------------

TEST(JsonDocumentSetNumber, StoresByTheNumberTextRule) {
    JsonDocument doc;
    doc.setNumber("a", 2.5);
    EXPECT_EQ(doc.getNumber("a"), 2.5);
    EXPECT_EQ(doc.getJson("a"), "2.5");
    doc.setNumber("b", 0.0000001);
    EXPECT_EQ(doc.getNumber("b"), 0.0);
    EXPECT_EQ(doc.typeOf("b"), JsonType::Number);
    doc.setNumber("c", -3600);
    EXPECT_EQ(doc.getText("c"), "-3600");
}

// --- addArrayItem ---------------------------------------------------------

TEST(JsonDocumentAddArrayItem, EmptyPathTurnsTheNewDocumentIntoAnArray) {
    JsonDocument doc;
    doc.addArrayItem("x");
    EXPECT_EQ(doc.typeOf(), JsonType::Array);
    EXPECT_EQ(doc.toText(), R"(["x"])");
    doc.addArrayItem("y");
    EXPECT_EQ(doc.count(), 2);
    EXPECT_EQ(doc.toText(), R"(["x","y"])");
}

TEST(JsonDocumentAddArrayItem, QuotingModeDecidesTheKind) {
    JsonDocument doc;
    doc.addArrayItem("5", "list", true);
    doc.addArrayItem("5", "list");
    doc.addArrayItem(R"({"k":[true]})", "list", true);
    EXPECT_EQ(doc.getJson("list"), R"([5,"5",{"k":[true]}])");
    EXPECT_EQ(doc.getArrayItemText(0, "list"), "");
    EXPECT_EQ(doc.getArrayItemText(1, "list"), "5");
}

TEST(JsonDocumentAddArrayItem, NonArrayTargetIsReplaced) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":{"b":1}})"));
    doc.addArrayItem("x", "a");
    EXPECT_EQ(doc.toText(), R"({"a":["x"]})");
}

// --- setArrayItem / removeArrayItem ----------------------------------------

TEST(JsonDocumentArrayItems, SetAndRemoveOnTheRootArray) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"(["a","b","c"])"));
    doc.setArrayItem(1, "B");
    doc.setArrayItem(3, "[4]", true);
    EXPECT_EQ(doc.toText(), R"(["a","B","c",[4]])");
    doc.removeArrayItem(0);
    EXPECT_EQ(doc.toText(), R"(["B","c",[4]])");
    EXPECT_EQ(doc.count(), 3);
}

TEST(JsonDocumentArrayItems, OnAnObjectOnlySetAddsAMemberNamedByTheIndex) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":1})"));
    doc.removeArrayItem(0);
    EXPECT_EQ(doc.toText(), R"({"a":1})");
    doc.setArrayItem(1, "x");
    EXPECT_EQ(doc.toText(), R"({"a":1,"1":"x"})");
}

// --- removeMember ---------------------------------------------------------

TEST(JsonDocumentRemoveMember, RemovesPresentMembersOnly) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":1,"b":{"c":2}})"));
    doc.removeMember("missing");
    EXPECT_EQ(doc.toText(), R"({"a":1,"b":{"c":2}})");
    doc.removeMember("b.c");
    doc.removeMember("a");
    EXPECT_FALSE(doc.exists("a"));
    EXPECT_EQ(doc.toText(), R"({"b":{}})");
}

// --- reset / setRoot / clear ------------------------------------------------

TEST(JsonDocumentReset, ArrayNullAndObject) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":1})"));
    doc.reset(JsonType::Array);
    EXPECT_EQ(doc.typeOf(), JsonType::Array);
    EXPECT_EQ(doc.count(), 0);
    doc.reset(JsonType::Null);
    EXPECT_EQ(doc.toText(), "{}");
    doc.setNumber("n", 1);
    doc.reset(JsonType::Object);
    EXPECT_EQ(doc.toText(), "{}");
}

TEST(JsonDocumentReset, OtherCodesChangeNothing) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"({"a":1})"));
    for (JsonType type : {JsonType::String, JsonType::Number, JsonType::Other}) {
        doc.reset(type);
        EXPECT_EQ(doc.toText(), R"({"a":1})");
    }
}

TEST(JsonDocumentSetRoot, QuotedAndJson) {
    JsonDocument doc;
    doc.setRoot("x");
    EXPECT_EQ(doc.typeOf(), JsonType::String);
    EXPECT_EQ(doc.toText(), R"("x")");
    doc.setRoot(R"({"k":"v"})", true);
    EXPECT_EQ(doc.getText("k"), "v");
    doc.setRoot(R"({"k":"v"})");
    EXPECT_EQ(doc.typeOf(), JsonType::String);
    EXPECT_EQ(doc.toText(), R"("{\"k\":\"v\"}")");
}

TEST(JsonDocumentClear, GivesAnEmptyObject) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parse(R"([1,2,3])"));
    doc.clear();
    EXPECT_EQ(doc.toText(), "{}");
    EXPECT_EQ(doc.count(), 0);
    EXPECT_EQ(doc.typeOf(), JsonType::Object);
}

}  // namespace
}  // namespace qx
