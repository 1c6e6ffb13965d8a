#pragma once
// Helpers shared by the JSON document tests.

#include <string_view>

#include "json/json_document.h"

namespace qx::test {

// The token reply of the speech service.
inline constexpr std::string_view kTokenReply =
    R"({"access_token":"24.6c5e1ff1.2592000.1700000000.282335-12345678",)"
    R"("scope":"audio_tts_post public","refresh_token":"25.b55fe1d287227ca97aab219bb249b8ab.315360000.1798284651.282335-8574074",)"
    R"("expires_in":2592000})";
inline constexpr std::string_view kToken = "24.6c5e1ff1.2592000.1700000000.282335-12345678";

// A document that can also look at the engine's globals.
class ProbedDocument : public JsonDocument {
public:
    // The global's value as text, or "undefined" when it does not exist.
    [[nodiscard]] Text global(std::string_view name) {
        const Text n(name);
        return variantText(scriptEngine().call(
            "Eval", {"typeof " + n + "==='undefined'?'undefined':String(" + n + ")"}));
    }
    void runScript(std::string_view script) { (void)scriptEngine().call("AddCode", {script}); }
};

// A document whose engine cannot be created.
class EngineLessDocument : public JsonDocument {
public:
    EngineLessDocument() : JsonDocument("QXtts.NoSuchScriptEngine.1") {}
};

}  // namespace qx::test
