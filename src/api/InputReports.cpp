#include "api/InputReports.h"

#include <cstdio>

#include "platform/WideString.h"

namespace kx {

namespace {

std::string Seconds(int64_t ticks) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ticks) / 1e7);
    return text;
}

}  // namespace

std::u16string DescribeEarlyEnd(const EarlyInputEnd& early) {
    std::string why = DescribeCutShortSign(early.end.sign);
    if (!early.end.readError.empty()) why += " (" + early.end.readError + ")";
    return early.path + Utf8ToWide(" ended early, at " + Seconds(early.end.reachedTicks) + " s of " +
                                   Seconds(early.end.expectedTicks) + " s: " + why);
}

std::u16string DescribeRefusedInput(const std::u16string& path, const InputProblem& problem) {
    return u"cannot open " + path + u": " + Utf8ToWide(DescribeInputProblem(problem));
}

}  // namespace kx
