#include "json/json_document.h"

#include <cstdio>
#include <limits>
#include <string>

#include "json/json_support_script.h"
#include "text/encoding.h"
#include "text/text_rules.h"

namespace qx {

namespace {

constexpr std::string_view kScriptEngine = "MSScriptControl.ScriptControl";

// The for-in loop of keys also visits the two methods that the support
// script puts on Object.prototype.
bool isSupportMethod(std::string_view name) noexcept {
    return name == "toJSONString" || name == "parseJSON";
}

// JSON text into the support script's parser, as data.
Text parsedValue(std::string_view json) {
    return "JSON.parse(" + scriptStringLiteral(json) + ")";
}

Text valueExpression(std::string_view value, bool asJson) {
    return asJson ? parsedValue(value) : scriptStringLiteral(value);
}

}  // namespace

Text numberText(double number) {
    char small[64];
    int n = std::snprintf(small, sizeof small, "%lf", number);
    if (n < 0) return {};
    Text text;
    if (static_cast<std::size_t>(n) < sizeof small) {
        text.assign(small, static_cast<std::size_t>(n));
    } else {
        text.resize(static_cast<std::size_t>(n) + 1);
        n = std::snprintf(text.data(), text.size(), "%lf", number);
        text.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    }
    const std::size_t point = text.find('.');
    if (point != Text::npos) {
        std::size_t end = text.size();
        while (end > point + 1 && text[end - 1] == '0') --end;
        if (end == point + 1) --end;
        text.resize(end);
    }
    return text;
}

Text scriptStringLiteral(std::string_view text) {
    // Escaped on the UTF-16 side, which is what the engine reads: in GBK a
    // backslash byte may be the second half of a character, and U+2028/U+2029
    // only exist after the conversion.
    static constexpr char kHex[] = "0123456789abcdef";
    const std::wstring wide = widenText(text);
    Text literal;
    literal.reserve(wide.size() + 2);
    literal += '\'';
    for (const wchar_t c : wide) {
        switch (c) {
            case L'\\': literal += "\\\\"; break;
            case L'\'': literal += "\\'"; break;
            case L'"': literal += "\\\""; break;
            case L'\r': literal += "\\r"; break;
            case L'\n': literal += "\\n"; break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    literal += static_cast<char>(c);
                } else {
                    const auto u = static_cast<unsigned>(c);
                    literal += "\\u";
                    literal += kHex[(u >> 12) & 0xF];
                    literal += kHex[(u >> 8) & 0xF];
                    literal += kHex[(u >> 4) & 0xF];
                    literal += kHex[u & 0xF];
                }
        }
    }
    literal += '\'';
    return literal;
}

JsonDocument::JsonDocument() : JsonDocument(kScriptEngine) {}

JsonDocument::JsonDocument(std::string_view engineProgId) : varName_("da"), engineProgId_(engineProgId) {
    JsonDocument::setUp();
}

JsonDocument::JsonDocument(CloneTag, const JsonDocument& from)
    : varName_(from.varName_), engine_(from.engine_), engineProgId_(from.engineProgId_) {
    // Every document holds its own COM entry, so that destroying a clone
    // never leaves COM under the feet of the documents still using the engine.
    com_.emplace();
}

JsonDocument::~JsonDocument() {
    engine_.clear();
    com_.reset();
}

std::unique_ptr<JsonDocument> JsonDocument::clone() const {
    return std::unique_ptr<JsonDocument>(new JsonDocument(CloneTag{}, *this));
}

void JsonDocument::setUp() {
    // parse sets up again on the same thread; COM is entered once per
    // document and left once, by the destructor.
    if (!com_) com_.emplace();
    if (!engine_.create(engineProgId_)) return;  // keeps the creation's HRESULT
    (void)engine_.put("Language", "JavaScript");
    run(JsonSupportScript);
    evaluate("var " + varName_ + "={}");
}

void JsonDocument::run(std::string_view script) noexcept {
    (void)engine_.call("AddCode", {script});
}

void JsonDocument::evaluate(std::string_view script) noexcept {
    (void)engine_.call("Eval", {script});
}

Text JsonDocument::evaluateText(std::string_view script) {
    return variantText(engine_.call("Eval", {script}));
}

double JsonDocument::evaluateNumber(std::string_view script) noexcept {
    return variantNumber(engine_.call("Eval", {script}));
}

bool JsonDocument::evaluateLogical(std::string_view script) noexcept {
    return variantTrue(engine_.call("Eval", {script}));
}

Text JsonDocument::target(std::string_view path) const {
    if (path.empty()) return varName_;
    Text t = varName_;
    t += '.';
    t += path;
    return t;
}

Text JsonDocument::member(std::string_view path) const {
    Text t = varName_;
    t += '.';
    t += path;
    return t;
}

Text JsonDocument::bracketTarget(std::string_view path) const {
    Text t = varName_;
    if (path.empty() || path.front() != '[') t += '.';  // an empty path too: "da." does not compile
    t += path;
    return t;
}

bool JsonDocument::parse(std::string_view text) {
    // Every parse starts from an engine that holds only the support script.
    if (!engine_.empty()) {
        engine_.clear();
        setUp();
    }
    if (engine_.empty()) return false;
    evaluate("var " + varName_ + "=null");
    // A text that JSON.parse rejects throws, and the variable keeps null. An
    // empty text (a missing member's JSON, in getMember) leaves undefined.
    run("var " + varName_ + "=" + (text.empty() ? Text("void 0") : parsedValue(text)));
    return evaluateLogical("null !=" + varName_);
}

Text JsonDocument::toText() {
    return evaluateText("JSON.stringify(" + varName_ + ")");
}

void JsonDocument::setText(std::string_view path, std::string_view value, bool asJson) {
    if (asJson) {
        evaluate(member(path) + "= " + parsedValue(value.empty() ? std::string_view("{}") : value));
    } else {
        evaluate(member(path) + "=" + scriptStringLiteral(value));
    }
}

void JsonDocument::setJson(std::string_view path, std::string_view value) {
    evaluate(member(path) + "= " + (value.empty() ? Text("void 0") : parsedValue(value)));
}

void JsonDocument::setNumber(std::string_view path, double number) {
    evaluate(member(path) + "=" + numberText(number));
}

double JsonDocument::getNumber(std::string_view path) {
    return evaluateNumber(member(path));
}

Text JsonDocument::getJson(std::string_view path) {
    return evaluateText("JSON.stringify(" + member(path) + ")");
}

Text JsonDocument::getText(std::string_view path, bool asJson) {
    const Text t = bracketTarget(path);
    if (asJson) return evaluateText("JSON.stringify(" + t + ")");
    if (engine_.empty()) return {};
    if (typeOf(path) == JsonType::Number) {
        const double number = getNumber(path);
        // The type test reads an empty path as the variable itself, but the
        // number read does not compile then: no number, no text.
        if (FAILED(engine_.lastResult())) return {};
        return numberText(number);
    }
    return evaluateText(t);
}

std::unique_ptr<JsonDocument> JsonDocument::documentOf(const Text& json) const {
    std::unique_ptr<JsonDocument> temporary(new JsonDocument(engineProgId_));
    (void)temporary->parse(json);
    return temporary->clone();
}

std::unique_ptr<JsonDocument> JsonDocument::getMember(std::string_view path) {
    return documentOf(evaluateText("JSON.stringify(" + bracketTarget(path) + ")"));
}

std::int32_t JsonDocument::count(std::string_view path) {
    const Text t = path.empty() ? varName_ : bracketTarget(path);
    const double n = evaluateNumber("get__count(" + t + ")");
    // get__count subtracts the two support methods, which a for-in loop over
    // a missing member, null or a primitive never visits: that gives -2.
    if (!(n > 0)) return 0;
    if (n >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(n);
}

void JsonDocument::addArrayItem(std::string_view value, std::string_view path, bool asJson) {
    const Text t = target(path);
    // The value is worked out before the target is touched, so that a value
    // that is not JSON leaves the document as it was.
    evaluate("(function(v){if (Object.prototype.toString.call(" + t + ") != '[object Array]') { " + t +
             "=new Array();} " + t + ".push(v)})(" + valueExpression(value, asJson) + ")");
}

std::unique_ptr<JsonDocument> JsonDocument::getArrayMember(std::int32_t index, std::string_view path) {
    return documentOf(evaluateText("JSON.stringify(" + target(path) + "[" + std::to_string(index) + "])"));
}

Text JsonDocument::getArrayItemText(std::int32_t index, std::string_view path, bool asJson) {
    const Text element = target(path) + "[" + std::to_string(index) + "]";
    return evaluateText(asJson ? "JSON.stringify(" + element + ")" : element);
}

void JsonDocument::setArrayItem(std::int32_t index, std::string_view value, bool asJson) {
    evaluate(varName_ + "[" + std::to_string(index) + "]=" + valueExpression(value, asJson));
}

void JsonDocument::removeArrayItem(std::int32_t index) {
    evaluate(varName_ + ".splice(" + std::to_string(index) + ",1)");
}

void JsonDocument::removeMember(std::string_view path) {
    (void)evaluateText("delete " + member(path));
}

void JsonDocument::reset(JsonType type) {
    switch (type) {
        case JsonType::Null:
        case JsonType::Object: (void)evaluateNumber("var " + varName_ + "={}"); break;
        case JsonType::Array: (void)evaluateNumber("var " + varName_ + "=new Array()"); break;
        default: break;
    }
}

void JsonDocument::setRoot(std::string_view value, bool asJson) {
    (void)evaluateLogical(varName_ + "=" + valueExpression(value, asJson));
}

bool JsonDocument::exists(std::string_view path) {
    return evaluateLogical(member(path) + " !=null");
}

std::int32_t JsonDocument::keys(std::vector<Text>& list, std::string_view path) {
    const Text loopResult =
        evaluateText("var ary=''; for (var key in " + target(path) + ") {ary=ary+ key+','; }");
    evaluate("ary=null");
    list.clear();
    // Whole names are compared: a member such as "xtoJSONString" keeps its name.
    for (Text& name : splitText(loopResult, ",")) {
        if (!isSupportMethod(name)) list.push_back(std::move(name));
    }
    return static_cast<std::int32_t>(list.size());
}

JsonType JsonDocument::typeOf(std::string_view path) {
    const Text t = target(path);
    if (evaluateLogical(t + "==null")) return JsonType::Null;
    const Text type = evaluateText("typeof (" + t + ")");
    if (type == "string") return JsonType::String;
    if (type == "number") return JsonType::Number;
    if (type == "object") {
        const Text json = evaluateText("JSON.stringify(" + t + ")");
        return !json.empty() && json.front() == '[' ? JsonType::Array : JsonType::Object;
    }
    return JsonType::Other;
}

void JsonDocument::clear() {
    evaluate(varName_ + "={}");
}

}  // namespace qx
