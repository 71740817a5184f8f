#include "phone/reference_catalogue.hpp"
#include "platform/values/json.hpp"

#include <gtest/gtest.h>

namespace {

using phone::ReferenceCatalogue;
using platform::Array;
using platform::Dictionary;
using platform::Value;

Dictionary entry(std::string id, std::string name, bool recent = false) {
    return {{"id", std::move(id)}, {"name", std::move(name)}, {"isRecent", recent}};
}

class Catalogue : public ::testing::Test {
protected:
    ReferenceCatalogue catalogue{
        Array{entry("a", "Squat", true), entry("b", "Bench"), entry("c", "Row")}};
};

TEST_F(Catalogue, GoesWholeUnderItsRevision) {
    EXPECT_EQ(catalogue.whole(4), (Dictionary{{"reference_exercises", catalogue.entries()},
                                              {"referenceExercisesRevision", 4.0}}));
}

TEST_F(Catalogue, TellsEachChangeAsAKeyedDelta) {
    auto replaced = entry("b", "Bench Press");
    EXPECT_EQ(catalogue.update(replaced),
              (Dictionary{{"referenceExerciseUpdates", Array{replaced}}}));
    EXPECT_EQ(catalogue.entries()[1], Value(replaced)) << "replaced where it was";
    ASSERT_TRUE(catalogue.update(entry("d", "Dip")));
    EXPECT_EQ(*catalogue.entries().back().find("id"), Value("d"));

    EXPECT_EQ(catalogue.remove("a"), (Dictionary{{"removedReferenceExerciseIds", Array{"a"}}}));
    EXPECT_FALSE(catalogue.remove("a"));

    EXPECT_EQ(catalogue.reorder({"d", "c", "b"}),
              (Dictionary{{"referenceExerciseOrder", Array{"d", "c", "b"}}}));
    std::vector<std::string> ids;
    for (const auto& e : catalogue.entries()) {
        ids.push_back(*e.find("id")->string());
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"d", "c", "b"}));
}

TEST_F(Catalogue, RefusesChangesThatDoNotFit) {
    auto before = catalogue.entries();
    EXPECT_FALSE(catalogue.update({{"id", "x"}}));
    EXPECT_FALSE(catalogue.update({{"name", "No id"}}));
    EXPECT_FALSE(catalogue.update({{"id", 3}, {"name", "Number"}}));
    EXPECT_FALSE(catalogue.remove("zz"));
    EXPECT_FALSE(catalogue.reorder({"a", "b"}));
    EXPECT_FALSE(catalogue.reorder({"a", "b", "b"}));
    EXPECT_FALSE(catalogue.reorder({"a", "b", "zz"}));
    EXPECT_EQ(catalogue.entries(), before);
}

TEST_F(Catalogue, GoesAsAFileWhoseDocumentAndMetadataAgreeOnTheRevision) {
    auto file = catalogue.file(7);
    EXPECT_EQ(file.metadata, (Dictionary{{"syncPayloadKind", "reference_exercises"},
                                         {"syncProtocolVersion", 2},
                                         {"referenceExercisesRevision", 7.0}}));
    auto document = platform::parseJson(std::string_view(
        reinterpret_cast<const char*>(file.contents.data()), file.contents.size()));
    ASSERT_TRUE(document);
    EXPECT_EQ(*document->find("kind"), Value("reference_exercises"));
    EXPECT_EQ(*document->find("protocolVersion"), Value(2));
    const auto* revision = document->find("revision");
    ASSERT_NE(revision, nullptr);
    EXPECT_TRUE((revision->real() != nullptr && *revision->real() == 7) ||
                (revision->integer() != nullptr && *revision->integer() == 7))
        << *revision;
    EXPECT_EQ(*document->find("items"), Value(catalogue.entries()));
}

} // namespace
