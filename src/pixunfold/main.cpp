// pixunfold: turns pixfold's records back into a viewable P6 PPM, and the key
// plane of e655Z or e888Alpha into a P5 PGM mask. Exit status 0 on success,
// 1 on any failure, with one line on standard error saying why.
#include "command_line.h"
#include "entry.h"
#include "run.h"

int main(int argc, char** argv) {
    constexpr pixfold::ToolTexts texts{"pixunfold", pixfold::pixunfoldUsageText,
                                       pixfold::pixunfoldHelpText};
    return pixfold::toolMain(argc, argv, pixfold::parseUnfoldCommandLine, pixfold::runUnfold,
                             texts);
}
