// Drives the pure text code with generated, mutated and pathological
// documents under the sanitizers. Exit code 0 when every invariant held.
#include "tests/volumes/FuzzDocuments.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

int g_failures = 0;

void Report(const std::string& problem, const std::string& input)
{
    if (problem.empty())
        return;
    if (++g_failures <= 5) {
        std::printf("FAILED: %s\n  input (%zu bytes): ", problem.c_str(), input.size());
        for (unsigned char c : input.substr(0, 200))
            std::printf(c >= 32 && c < 127 ? "%c" : "\\x%02X", c);
        std::printf("\n");
    }
}

// Inputs that once made readers of this kind slow or unsafe: many attributes
// in one tag, an endless tag, an endless quote, nothing but brackets.
void Pathological()
{
    const std::size_t n = 200000;
    std::string attributes = "<X";
    for (std::size_t i = 0; i < n / 8; ++i)
        attributes += " a=\"1\"";
    attributes += ">";
    std::string noSpaceAttributes = "<X ";
    for (std::size_t i = 0; i < n / 4; ++i)
        noSpaceAttributes += "a\"b\"";
    noSpaceAttributes += " =>";
    const std::string inputs[] = {
        attributes,
        noSpaceAttributes,
        "<X" + std::string(n, 'a'),
        "<X a=\"" + std::string(n, 'b'),
        std::string(n, '<'),
        std::string(n, '>'),
        std::string(n, '"'),
        std::string(n, '\0'),
        std::string(n, ' '),
    };
    for (const std::string& input : inputs)
        Report(fuzzdocs::CheckReader(input), input);
}

}  // namespace

int main(int argc, char** argv)
{
    const long documents = argc > 1 ? std::atol(argv[1]) : 20000;
    const auto started = std::chrono::steady_clock::now();
    fuzzdocs::Random random(20261206);

    Pathological();

    for (long i = 0; i < documents; ++i) {
        const VolumeRecord record = fuzzdocs::RandomRecord(random);
        Report(fuzzdocs::CheckRoundTrip(record, i % 50 == 0), "(a generated record)");

        const std::string generated = fuzzdocs::RandomDocument(random);
        Report(fuzzdocs::CheckReader(generated), generated);

        XmlDocument written;
        WriteVolumeInfoDocument(written, record);
        const std::string mutated = fuzzdocs::Mutate(written.GetText(), random);
        Report(fuzzdocs::CheckReader(mutated), mutated);

        // The value parsers on whatever the mutations left of a value.
        const std::string fragment = mutated.substr(random.Below(mutated.size() + 1), random.Below(48));
        (void)TextToGuid(fragment);
        (void)ParseNumber(fragment);
        (void)TextToGuid(GuidToText(record.volumeGuid).substr(0, random.Below(40)));
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("volumes native fuzz: %ld records and %ld documents in %.1f s, %d failures\n", documents,
                2 * documents, seconds, g_failures);
    return g_failures == 0 ? 0 : 1;
}
