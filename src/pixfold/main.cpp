// pixfold: converts binary PPM images into a headerless stream of packed
// Y'CrCb records. Exit status 0 after a complete conversion, 1 on any failure,
// with one line saying why.
#include "command_line.h"
#include "entry.h"
#include "run.h"

int main(int argc, char** argv) {
    constexpr pixfold::ToolTexts texts{"pixfold", pixfold::pixfoldUsageText,
                                       pixfold::pixfoldHelpText};
    return pixfold::toolMain(argc, argv, pixfold::parseFoldCommandLine, pixfold::runFold, texts);
}
