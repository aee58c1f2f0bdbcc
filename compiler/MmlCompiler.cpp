#include "MmlCompiler.h"

#include "Cp932Codec.h"
#include "MmlDiagnostics.h"
#include "MmlInterpreter.h"
#include "MmlParser.h"
#include "SmfSong.h"

#include <new>

namespace sakura {

CompileResult compileMml(std::string_view source)
{
    CompileResult result;
    Cp932Codec codec;
    try {
        MmlDiagnostics diagnostics;
        if (!codec.isValid())
            diagnostics.note(0, "CP932の文字コード変換が使えないため、日本語の文字を読めません。");
        std::u32string text = codec.decode(source);
        prepareSource(text);
        MmlParser parser(text, codec, diagnostics);
        const MmlProgram program = parser.parse();
        SmfSong song;
        MmlInterpreter interpreter(program, diagnostics);
        const bool ran = interpreter.run(song);
        result.ok = ran && !diagnostics.hasErrors();
        if (result.ok)
            result.smf = writeSmf(song);
        result.messages = codec.utf8ToCp932(diagnostics.text());
    } catch (const std::bad_alloc &) {
        result = CompileResult{};
        result.messages = codec.utf8ToCp932("メモリが足りないためコンパイルできませんでした。");
    } catch (...) {
        result = CompileResult{};
        result.messages = codec.utf8ToCp932("コンパイラの内部エラーです。");
    }
    return result;
}

} // namespace sakura
