// The parser against a small independent model of how clients write MIME.
#include <string.h>

#include <gtest/gtest.h>

#include "fuzz/mime_model.h"

TEST(MimeModelTest, GeneratedMessagesParseIntoTheModelsTreeAndWriteBackWhatWasRead)
{
    for (uint64_t seed = 0; seed < 3000; ++seed) {
        mime_model::Generated message = mime_model::Generate(seed);
        MimePart part;
        const char* position = message.text.c_str();
        part.Parse(&position, NULL);
        ASSERT_EQ(mime_model::Shape(part), message.shape) << "seed " << seed << "\n" << message.text;
        char* text = part.Serialize();
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text),
                  mime_model::Normalised(message.text.c_str(), (size_t)(position - message.text.c_str())))
            << "seed " << seed;
        free(text);
    }
}
