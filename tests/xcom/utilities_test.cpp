// hexasc, the list and the diagnostic printer.
#include "test_support.h"

namespace xcom_test {
namespace {

TEST(Hexasc, BracketsEveryUnprintableByte) {
    char out[4 * 8 + 1];
    EXPECT_STREQ(hexasc("a\nb", 3, out), "a[0a]b");
    EXPECT_STREQ(hexasc("\x7f\xff ~\0", 5, out), "[7f][ff] ~[00]");
    EXPECT_STREQ(hexasc("abc", 0, out), "");
    EXPECT_STREQ(hexasc("abc", -4, out), "");
}

TEST(Xlist, AddsWalksAndRemovesFromAnyPosition) {
    int values[] = {1, 2, 3, 4};
    xlist *head = nullptr, *nodes[4];
    for (int i = 0; i < 4; ++i)
        nodes[i] = xlist_add(&head, &values[i]);
    EXPECT_EQ(xlist_size(head), 4);
    static int visited;  // the walk stops at the second node
    xlist_walk(head,
               [](xlist *node) -> int { return ++visited, *static_cast<int *>(node->ptr) == 2; });
    EXPECT_EQ(visited, 2);
    xlist_remove(&head, nodes[1]);  // middle
    EXPECT_TRUE(nodes[0]->next == nodes[2] && nodes[2]->prev == nodes[0]);
    xlist_remove(&head, nodes[0]);  // head
    EXPECT_TRUE(head == nodes[2] && head->prev == nullptr);
    xlist_remove(&head, nodes[3]);  // tail
    EXPECT_EQ(head->next, nullptr);
    xlist_remove(&head, nodes[2]);
    EXPECT_TRUE(head == nullptr && xlist_size(head) == 0);
}

TEST(XcomLog, CutsAt511CharactersAndNeverReusesTheText) {
    const std::string prefix(300, 'p'), text(400, 't');
    CaptureStdout();
    EXPECT_EQ(xcom_log(prefix.c_str(), "%s", text.c_str()), 511);
    EXPECT_EQ(xcom_log(std::string(600, 'q').c_str(), "%d", 7), 511);
    EXPECT_EQ(xcom_log("%n%s", "%s|%d", "%n%x", 5), 10);
    EXPECT_EQ(xcom_log(nullptr, "plain"), 5);
    EXPECT_EQ(GetCapturedStdout(),
              (prefix + text).substr(0, 511) + std::string(511, 'q') + "%n%s%n%x|5" + "plain");
}

}  // namespace
}  // namespace xcom_test
