// The support script on a bare Script Control engine, and the script string
// literals that carry data into it.

#include "json/json_support_script.h"

#include <gtest/gtest.h>

#include "json/json_document.h"
#include "platform/automation_object.h"

namespace qx {
namespace {

class SupportScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine.create("MSScriptControl.ScriptControl"));
        ASSERT_TRUE(engine.put("Language", "JavaScript"));
    }
    void addSupport() {
        (void)engine.call("AddCode", {JsonSupportScript});
        ASSERT_EQ(engine.lastResult(), S_OK);
    }
    Text text(std::string_view script) { return variantText(engine.call("Eval", {script})); }
    double number(std::string_view script) { return variantNumber(engine.call("Eval", {script})); }
    // The message of what the statement throws, or "" when it throws nothing.
    Text thrown(std::string_view statement) {
        return text("(function(){try{" + Text(statement) + "}catch(e){return (e instanceof SyntaxError?'SyntaxError:':'Error:')+e.message}return ''})()");
    }

    ComScope com;
    AutomationObject engine;
};

TEST(SupportScriptText, OneLineOfAsciiStartingWithGetCount) {
    const std::string_view script = JsonSupportScript;
    for (const char c : script) {
        ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << static_cast<int>(static_cast<unsigned char>(c));
    }
    EXPECT_EQ(script.find("function get__count(c){var i=-2;for(v in c)i++;return i}"), 0u);
    const auto json = script.find("if(typeof JSON!=='object'){JSON={}}");
    const auto stringify = script.find("JSON.stringify=");
    const auto parse = script.find("JSON.parse=");
    const auto methods = script.find("Object.prototype.toJSONString=");
    EXPECT_LT(json, stringify);
    EXPECT_LT(stringify, parse);
    EXPECT_LT(parse, methods);
    EXPECT_NE(methods, std::string_view::npos);
}

TEST_F(SupportScriptTest, EngineHasNoJsonOfItsOwn) {
    // Under Wine the script's serialiser and parser are the ones that run.
    EXPECT_EQ(text("typeof JSON"), "undefined");
    addSupport();
    EXPECT_EQ(text("typeof JSON.stringify+','+typeof JSON.parse"), "function,function");
}

TEST_F(SupportScriptTest, KeepsWhatTheEngineAlreadyHas) {
    (void)engine.call("AddCode", {"JSON={stringify:function(){return 'own'}};"
                                  "Object.prototype.toJSONString=function(){return 'own'}"});
    addSupport();
    EXPECT_EQ(text("JSON.stringify(1)"), "own");
    EXPECT_EQ(text("({}).toJSONString()"), "own");
    EXPECT_EQ(text("typeof JSON.parse"), "function");  // only the missing piece was added
}

TEST_F(SupportScriptTest, MethodsAreEnumerableAndGetCountAllowsForThem) {
    addSupport();
    EXPECT_EQ(text("var s='';for(var k in {a:1,b:2})s+=k+',';s"), "a,b,toJSONString,parseJSON,");
    EXPECT_EQ(number("get__count({})"), 0);
    EXPECT_EQ(number("get__count({a:1,b:2})"), 2);
    EXPECT_EQ(number("get__count([7,8,9])"), 3);
    EXPECT_EQ(text("({a:[1]}).toJSONString()"), R"({"a":[1]})");
    EXPECT_EQ(number("'{\"a\":[1,2]}'.parseJSON().a[1]"), 2);
}

struct StringifyCase {
    const char* expression;
    const char* json;
};
void PrintTo(const StringifyCase& c, std::ostream* os) { *os << c.expression; }

class SupportScriptStringify : public SupportScriptTest, public ::testing::WithParamInterface<StringifyCase> {};

TEST_P(SupportScriptStringify, Writes) {
    addSupport();
    EXPECT_EQ(text("JSON.stringify(" + Text(GetParam().expression) + ")"), GetParam().json)
        << GetParam().expression;
}

INSTANTIATE_TEST_SUITE_P(
    Values, SupportScriptStringify,
    ::testing::Values(
        StringifyCase{R"('\b\t\n\f\r"\\')", R"("\b\t\n\f\r\"\\")"},
        StringifyCase{R"('\x00\x1f\x7f\x9f\xad')", R"("\u0000\u001f\u007f\u009f\u00ad")"},
        StringifyCase{R"('\u0600\u0604\u070f\u17b4\u17b5\u200c\u200f')",
                      R"("\u0600\u0604\u070f\u17b4\u17b5\u200c\u200f")"},
        StringifyCase{R"('\u2028\u2029\u202f\u2060\u206f\ufeff\ufff0\uffff')",
                      R"("\u2028\u2029\u202f\u2060\u206f\ufeff\ufff0\uffff")"},
        StringifyCase{R"('\u4e2d'=== JSON.parse(JSON.stringify('\u4e2d')))", "true"},
        StringifyCase{"{a:1,b:'x',c:null,d:true,e:undefined,f:function(){}}",
                      R"({"a":1,"b":"x","c":null,"d":true})"},
        StringifyCase{"[undefined,function(){},1/0,-1/0,0/0,null]", "[null,null,null,null,null,null]"},
        StringifyCase{"[[],{},[[1]]]", "[[],{},[[1]]]"},
        StringifyCase{"new Date(Date.UTC(2024,0,2,3,4,5))", R"("2024-01-02T03:04:05Z")"},
        StringifyCase{"new Date(NaN)", "null"},
        StringifyCase{"{toJSON:function(){return 'mine'}}", R"("mine")"},
        StringifyCase{"{a:[1,{b:2}]},null,2", "{\n  \"a\": [\n    1,\n    {\n      \"b\": 2\n    }\n  ]\n}"},
        StringifyCase{"{a:1},null,'--'", "{\n--\"a\": 1\n}"},
        StringifyCase{"{a:1,b:2,c:3},['c','a']", R"({"c":3,"a":1})"},
        StringifyCase{"{a:1,b:'x'},function(k,v){return typeof v==='number'?v+1:v}", R"({"a":2,"b":"x"})"},
        StringifyCase{"-12.5", "-12.5"}));

TEST_F(SupportScriptTest, StringifyLeavesOtherCharactersAlone) {
    addSupport();
    EXPECT_TRUE(variantTrue(engine.call(
        "Eval", {R"(JSON.stringify('a/\u0605\u2030\u4e2d\u00e9')==='"a/\u0605\u2030\u4e2d\u00e9"')"})));
}

TEST_F(SupportScriptTest, StringifyRejectsAReplacerThatIsNeitherFunctionNorArray) {
    addSupport();
    EXPECT_EQ(thrown("JSON.stringify({a:1},5)"), "Error:JSON.stringify");
    EXPECT_EQ(thrown("JSON.stringify({a:1},{})"), "Error:JSON.stringify");
    EXPECT_EQ(thrown("JSON.stringify({a:1},null)"), "");
}

TEST_F(SupportScriptTest, ParseAcceptsJsonAndAppliesTheReviverBottomUp) {
    addSupport();
    EXPECT_EQ(text(R"(JSON.parse(' {"a" : [ 1, {"b":"c\\u0041\\n"} ], "t":true, "z":null} ').a[1].b)"), "cA\n");
    EXPECT_EQ(number(R"(JSON.parse('-1.5e2'))"), -150);
    EXPECT_EQ(text(R"(var order='';JSON.parse('{"a":{"b":1},"c":2}',function(k,v){order+=k+';';return v});order)"),
              "b;a;c;;");
    EXPECT_EQ(text(R"(JSON.stringify(JSON.parse('{"a":1,"b":2}',function(k,v){return k==='a'?undefined:v})))"),
              R"({"b":2})");
}

TEST_F(SupportScriptTest, ParseTurnsLineSeparatorsInsideStringsIntoEscapes) {
    addSupport();
    // Raw U+2028/U+2029 end a line inside a script literal; they must not
    // stop a valid JSON string from parsing.
    EXPECT_EQ(number("JSON.parse('\"a\\u2028b\\u2029\"').length"), 4);
    EXPECT_EQ(number("JSON.parse('\"\\ufeff\"').charCodeAt(0)"), 0xFEFF);
}

TEST_F(SupportScriptTest, ParseOfAnEmptyTextThrows) {
    addSupport();
    EXPECT_NE(thrown("JSON.parse('')"), "");
    EXPECT_NE(thrown("JSON.parse(' ')"), "");
}

class SupportScriptParseRejects : public SupportScriptTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SupportScriptParseRejects, ThrowsSyntaxErrorWithoutRunningIt) {
    addSupport();
    EXPECT_EQ(thrown("JSON.parse(" + scriptStringLiteral(GetParam()) + ")"), "SyntaxError:JSON.parse")
        << GetParam();
    EXPECT_EQ(text("typeof injected"), "undefined");
}

INSTANTIATE_TEST_SUITE_P(
    NotJson, SupportScriptParseRejects,
    ::testing::Values("injected=1", "{a:1}", "{'a':1}", "[1]+[2]", "(1)", "\"a\"+\"b\"", "new Date()",
                      "function(){}", "{\"a\":injected=1}", "[\"\\x41\"]", "\"line\nbreak\"",
                      "\"a\"\n;injected=1", "/*@cc_on injected=1 @*/", "undefined", "NaN", "'single'"));

// --- script string literals ---------------------------------------------------

class ScriptStringLiteral : public SupportScriptTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ScriptStringLiteral, IsAsciiAndEvaluatesToTheText) {
    const Text value = GetParam();
    const Text literal = scriptStringLiteral(value);
    for (const char c : literal) ASSERT_TRUE(c >= 0x20 && c < 0x7F) << literal;
    EXPECT_EQ(text(literal), value) << literal;
    EXPECT_EQ(text("typeof injected"), "undefined");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ScriptStringLiteral,
    ::testing::Values("plain", "it's \"quoted\"", "\\", "\\'", "a\\\nb", "\r\n\t\x01\x7F",
                      "x');injected=1;('", "\xD6\xD0\xCE\xC4", "\x95\x5C'", "\x95\x5C\\\x95\x5C\""));

}  // namespace
}  // namespace qx
