#include <gtest/gtest.h>

#include <vidOderavev/Internationalisation/TranslatorData.h>

using Qz::Varnel::Internationalisation::CTranslatorData;

namespace {

CTranslatorData MakeTable(const std::string& name)
{
    CTranslatorData table;
    table.Init(name, "Default");
    return table;
}

// M has base modules A and B; B has the base module C. A, C and (optionally)
// M translate x.
CTranslatorData MakeWorkedExample(bool withOwnEntry, bool withC, bool withB)
{
    CTranslatorData c = MakeTable("C");
    if (withC)
        c.SetTranslation("x", "xC");
    CTranslatorData b = MakeTable("B");
    if (withB)
        b.SetTranslation("x", "xB");
    b.AddBaseModule(c);
    CTranslatorData a = MakeTable("A");
    a.SetTranslation("x", "xA");
    CTranslatorData m = MakeTable("M");
    if (withOwnEntry)
        m.SetTranslation("x", "xM");
    m.AddBaseModule(a);
    m.AddBaseModule(b);
    return m;
}

} // namespace

TEST(TranslatorData, WorkedExampleShallow)
{
    CTranslatorData m = MakeWorkedExample(true, true, false);
    EXPECT_EQ(m.Translate("x", false), "xM");
    CTranslatorData withoutOwn = MakeWorkedExample(false, true, false);
    unsigned int depth = 0;
    const std::string* found = withoutOwn._TranslateShallow("x", depth);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, "xA");
    EXPECT_EQ(depth, 1u);
}

TEST(TranslatorData, WorkedExampleDeep)
{
    for (bool own : {true, false}) {
        CTranslatorData m = MakeWorkedExample(own, true, false);
        unsigned int depth = 5;
        const std::string* found = m._TranslateDeep("x", depth);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(*found, "xC");
        EXPECT_EQ(depth, 7u); // 5 + depth 2
        EXPECT_EQ(m.Translate("x", true), "xC");
    }
    // Without C's entry A is deepest; with B's own entry A and B tie at depth 1
    // and A, the earlier, wins.
    EXPECT_EQ(MakeWorkedExample(true, false, false).Translate("x", true), "xA");
    EXPECT_EQ(MakeWorkedExample(true, false, true).Translate("x", true), "xA");
    EXPECT_EQ(MakeWorkedExample(false, false, true).Translate("x", false), "xA");
}

TEST(TranslatorData, ShallowPrefersStrictlyNearerLaterModule)
{
    // First base module has x only at depth 2, the second at depth 1.
    CTranslatorData deepInner = MakeTable("I");
    deepInner.SetTranslation("x", "deep");
    CTranslatorData first = MakeTable("F");
    first.AddBaseModule(deepInner);
    CTranslatorData second = MakeTable("S");
    second.SetTranslation("x", "near");
    CTranslatorData m = MakeTable("M");
    m.AddBaseModule(first);
    m.AddBaseModule(second);
    EXPECT_EQ(m.Translate("x", false), "near");
    EXPECT_EQ(m.Translate("x", true), "deep");
    EXPECT_FALSE(m.CanTranslate("x"));
}

TEST(TranslatorData, MissAddsIdentityEntryAndSetsFlag)
{
    CTranslatorData table = MakeTable("M");
    CTranslatorData base = MakeTable("B");
    table.AddBaseModule(base);
    table.SetModifiedFlag(false);
    const std::string& first = table.Translate("", true);
    EXPECT_EQ(first, "");
    EXPECT_TRUE(table.IsModified());
    EXPECT_TRUE(table.CanTranslate(""));
    EXPECT_FALSE(table.GetBaseModule(0).CanTranslate(""));
    table.SetModifiedFlag(false);
    const std::string& second = table.Translate("", false);
    EXPECT_EQ(&first, &second);
    EXPECT_FALSE(table.IsModified());
    ASSERT_EQ(table.GetTranslatorMap().size(), 1u);
}

TEST(TranslatorData, ReferencesSurviveInsertions)
{
    CTranslatorData table = MakeTable("M");
    const std::string& kept = table.Translate("keep", true);
    for (int i = 0; i < 1000; ++i)
        table.Translate("text " + std::to_string(i), i % 2 == 0);
    EXPECT_EQ(kept, "keep");
    EXPECT_EQ(&kept, &table.Translate("keep", false));
}

TEST(TranslatorData, AddAndSetTranslation)
{
    CTranslatorData table;
    EXPECT_FALSE(table.IsModified());
    table.AddTranslation("a", "1");
    table.SetModifiedFlag(false);
    table.AddTranslation("a", "2");
    EXPECT_TRUE(table.IsModified());
    EXPECT_EQ(table.GetTranslatorMap().at("a"), "1");
    table.SetModifiedFlag(false);
    table.SetTranslation("a", "3");
    EXPECT_TRUE(table.IsModified());
    EXPECT_EQ(table.GetTranslatorMap().at("a"), "3");
}

TEST(TranslatorData, ModifiedFlagTable)
{
    CTranslatorData table;
    table.Init("M", "en");
    EXPECT_FALSE(table.IsModified());
    table.SetName("M");
    table.SetLanguage("en");
    EXPECT_FALSE(table.IsModified());
    table.ClearTranslatorMap();
    EXPECT_FALSE(table.IsModified());
    table.SetName("m"); // byte-wise, no case folding
    EXPECT_TRUE(table.IsModified());
    table.SetModifiedFlag(false);
    table.SetLanguage("EN");
    EXPECT_TRUE(table.IsModified());
    table.SetModifiedFlag(false);
    table.AddBaseModule(MakeTable("A"));
    EXPECT_TRUE(table.IsModified());
    table.SetModifiedFlag(false);
    table.RemoveBaseModule(std::string("absent"));
    EXPECT_FALSE(table.IsModified());
    table.RemoveBaseModule(std::string("A"));
    EXPECT_TRUE(table.IsModified());
    EXPECT_EQ(table.GetNumBaseModules(), 0u);
    table.AddTranslation("t", "u");
    table.SetModifiedFlag(false);
    table.ClearTranslatorMap();
    EXPECT_TRUE(table.IsModified());
    table.Translate("t", false);
    table.SetModifiedFlag(false);
    table.Translate("t", false);
    EXPECT_FALSE(table.IsModified());
    table.AddBaseModule(MakeTable("B"));
    table.SetModifiedFlag(false);
    table.RemoveBaseModule(0u);
    EXPECT_TRUE(table.IsModified());
    table.Init("N", "de");
    EXPECT_FALSE(table.IsModified());
    EXPECT_TRUE(table.GetTranslatorMap().empty());
    EXPECT_EQ(table.GetName(), "N");
    EXPECT_EQ(table.GetLanguage(), "de");
}

TEST(TranslatorData, BaseModulesAreDeepSnapshots)
{
    CTranslatorData inner = MakeTable("I");
    inner.SetTranslation("x", "xI");
    CTranslatorData base = MakeTable("B");
    base.AddBaseModule(inner);
    EXPECT_TRUE(base.IsModified());
    CTranslatorData table = MakeTable("M");
    table.AddBaseModule(base);
    // Later changes to the tables passed in do not reach the copies.
    base.GetBaseModule(0).SetTranslation("x", "changed");
    base.SetTranslation("y", "yB");
    EXPECT_EQ(table.Translate("x", true), "xI");
    EXPECT_TRUE(table.GetBaseModule(0).IsModified()); // the copy keeps the flag
    EXPECT_FALSE(table.GetBaseModule(0).CanTranslate("y"));
    // Filling a base module in place through the writable accessor.
    table.GetBaseModule(0).SetTranslation("z", "zB");
    EXPECT_EQ(table.Translate("z", false), "zB");

    CTranslatorData copy(table);
    EXPECT_EQ(copy.IsModified(), table.IsModified());
    copy.GetBaseModule(0).GetBaseModule(0).SetTranslation("x", "copy");
    EXPECT_EQ(table.Translate("x", true), "xI");
    EXPECT_EQ(copy.Translate("x", true), "copy");
}

TEST(TranslatorData, HasBaseModule)
{
    CTranslatorData inner = MakeTable("Inner");
    CTranslatorData base = MakeTable("Base");
    base.AddBaseModule(inner);
    CTranslatorData table = MakeTable("M");
    table.AddBaseModule(base);
    EXPECT_TRUE(table.HasBaseModule("Base", false));
    EXPECT_FALSE(table.HasBaseModule("Inner", false));
    EXPECT_TRUE(table.HasBaseModule("Inner", true));
    EXPECT_FALSE(table.HasBaseModule("M", true));
    EXPECT_FALSE(table.HasBaseModule("inner", true));
}

TEST(TranslatorData, RemoveByNameRemovesFirstOnly)
{
    CTranslatorData first = MakeTable("Dup");
    first.SetTranslation("x", "first");
    CTranslatorData second = MakeTable("Dup");
    second.SetTranslation("x", "second");
    CTranslatorData table = MakeTable("M");
    table.AddBaseModule(first);
    table.AddBaseModule(second);
    EXPECT_EQ(table.Translate("x", true), "first");
    table.RemoveBaseModule(std::string("Dup"));
    ASSERT_EQ(table.GetNumBaseModules(), 1u);
    EXPECT_EQ(table.Translate("x", true), "second");
}

TEST(TranslatorData, DeepAndShallowAgreeWithoutBaseModules)
{
    CTranslatorData table = MakeTable("M");
    table.SetTranslation("a", "A");
    unsigned int d1 = 0, d2 = 0;
    EXPECT_EQ(table._TranslateDeep("a", d1), table._TranslateShallow("a", d2));
    EXPECT_EQ(d1, 0u);
    EXPECT_EQ(d2, 0u);
    unsigned int d3 = 0;
    EXPECT_EQ(table._TranslateDeep("b", d3), nullptr);
}

TEST(TranslatorData, KeysAreByteStrings)
{
    CTranslatorData table;
    std::string withNul("a\0b", 3);
    table.SetTranslation(withNul, "nul");
    table.SetTranslation("a", "plain");
    table.SetTranslation("\xff", "high");
    EXPECT_EQ(table.Translate(withNul, true), "nul");
    EXPECT_EQ(table.Translate("a", true), "plain");
    // Byte-wise order: "a" < "a\0b" < "\xff".
    auto it = table.GetTranslatorMap().begin();
    EXPECT_EQ(it->first, "a");
    EXPECT_EQ((++it)->first, withNul);
    EXPECT_EQ((++it)->first, "\xff");
}
