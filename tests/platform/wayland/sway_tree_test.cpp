#include "platform/wayland/sway_tree.h"

#include <gtest/gtest.h>

#include <string>

namespace glimmerly::platform::wayland {
namespace {

// A node as sway writes it: "rect" without the title bar, "deco_rect" the title bar.
std::string Node(const std::string& type, const std::string& name, bool focused, int x, int y,
                 int w, int h, int titleHeight, const std::string& layout = "none",
                 const std::string& nodes = "", const std::string& floating = "") {
    return "{\"type\":\"" + type + "\",\"name\":" + (name.empty() ? "null" : "\"" + name + "\"") +
           ",\"focused\":" + (focused ? "true" : "false") + ",\"layout\":\"" + layout +
           "\",\"rect\":{\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y) +
           ",\"width\":" + std::to_string(w) + ",\"height\":" + std::to_string(h) +
           "},\"deco_rect\":{\"x\":0,\"y\":0,\"width\":" + std::to_string(w) +
           ",\"height\":" + std::to_string(titleHeight) + "},\"nodes\":[" + nodes +
           "],\"floating_nodes\":[" + floating + "]}";
}

std::string Tree(const std::string& workspaceNodes, const std::string& floating = "",
                 bool workspaceFocused = false) {
    const std::string workspace = Node("workspace", "1", workspaceFocused, 0, 0, 1280, 720, 0,
                                       "splith", workspaceNodes, floating);
    const std::string output =
        Node("output", "HEADLESS-1", false, 0, 0, 1280, 720, 0, "output", workspace);
    return Node("root", "root", false, 0, 0, 2304, 768, 0, "splith", output);
}

TEST(SwayTree, FocusedWindowDeepInSplitsWithItsTitleBar) {
    const std::string inner = Node("con", "Editor – ä.txt", true, 640, 30, 640, 690, 25) + "," +
                              Node("con", "other", false, 640, 400, 640, 320, 25);
    const std::string split = Node("con", "", false, 640, 0, 640, 720, 0, "splitv", inner);
    const std::string tree = Tree(Node("con", "left", false, 0, 25, 640, 695, 25) + "," + split);
    const auto focused = FocusedWindowInTree(tree);
    ASSERT_TRUE(focused);
    EXPECT_EQ(focused->title, "Editor – ä.txt");
    EXPECT_EQ(focused->outer, (Rect{640, 5, 1280, 720}));
}

TEST(SwayTree, FloatingWindowAndStackedTitles) {
    const std::string floating = Node("floating_con", "Rechner", true, 300, 230, 200, 150, 22);
    const auto f =
        FocusedWindowInTree(Tree(Node("con", "tiled", false, 0, 0, 1280, 720, 0), floating));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->title, "Rechner");
    EXPECT_EQ(f->outer, (Rect{300, 208, 500, 380}));

    // Three windows stacked: every title sits above the shown window's content.
    const std::string stack = Node("con", "a", false, 0, 75, 1280, 645, 25) + "," +
                              Node("con", "b", true, 0, 75, 1280, 645, 25) + "," +
                              Node("con", "c", false, 0, 75, 1280, 645, 25);
    const auto s =
        FocusedWindowInTree(Tree(Node("con", "", false, 0, 0, 1280, 720, 0, "stacked", stack)));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->title, "b");
    EXPECT_EQ(s->outer, (Rect{0, 0, 1280, 720}));
}

TEST(SwayTree, StackedWindowsInATreeAsSwaySendsIt) {
    // Two windows stacked in a container on the first output, "B" focused (fields trimmed).
    // clang-format off
    const char* tree = R"(
    {"type":"root","name":"root","focused":false,"layout":"splith",
     "rect":{"x":0,"y":0,"width":2304,"height":768},
     "deco_rect":{"x":0,"y":0,"width":0,"height":0},
     "nodes":[
      {"type":"output","name":"__i3","focused":false,"layout":"output",
       "rect":{"x":0,"y":0,"width":2304,"height":768},
       "deco_rect":{"x":0,"y":0,"width":0,"height":0},
       "nodes":[
        {"type":"workspace","name":"__i3_scratch","focused":false,"layout":"splith",
         "rect":{"x":0,"y":0,"width":2304,"height":768},
         "deco_rect":{"x":0,"y":0,"width":0,"height":0},
         "nodes":[],
         "floating_nodes":[]}],
       "floating_nodes":[]},
      {"type":"output","name":"HEADLESS-1","focused":false,"layout":"output",
       "rect":{"x":0,"y":0,"width":1024,"height":768},
       "deco_rect":{"x":0,"y":0,"width":0,"height":0},
       "nodes":[
        {"type":"workspace","name":"1","focused":false,"layout":"splith",
         "rect":{"x":0,"y":0,"width":1024,"height":768},
         "deco_rect":{"x":0,"y":0,"width":0,"height":0},
         "nodes":[
          {"type":"con","name":null,"focused":false,"layout":"stacked",
           "rect":{"x":0,"y":0,"width":1024,"height":768},
           "deco_rect":{"x":0,"y":0,"width":0,"height":0},
           "nodes":[
            {"type":"con","name":"A","focused":false,"layout":"none",
             "rect":{"x":0,"y":50,"width":1024,"height":718},
             "deco_rect":{"x":0,"y":0,"width":1024,"height":25},
             "nodes":[],
             "floating_nodes":[]},
            {"type":"con","name":"B","focused":true,"layout":"none",
             "rect":{"x":0,"y":50,"width":1024,"height":718},
             "deco_rect":{"x":0,"y":25,"width":1024,"height":25},
             "nodes":[],
             "floating_nodes":[]}],
           "floating_nodes":[]}],
         "floating_nodes":[]}],
       "floating_nodes":[]},
      {"type":"output","name":"HEADLESS-2","focused":false,"layout":"output",
       "rect":{"x":1024,"y":0,"width":1280,"height":720},
       "deco_rect":{"x":0,"y":0,"width":0,"height":0},
       "nodes":[
        {"type":"workspace","name":"2","focused":false,"layout":"splith",
         "rect":{"x":1024,"y":0,"width":1280,"height":720},
         "deco_rect":{"x":0,"y":0,"width":0,"height":0},
         "nodes":[],
         "floating_nodes":[]}],
       "floating_nodes":[]}],
     "floating_nodes":[]}
)";
    // clang-format on
    const auto focused = FocusedWindowInTree(tree);
    ASSERT_TRUE(focused);
    EXPECT_EQ(focused->title, "B");
    EXPECT_EQ(focused->outer, (Rect{0, 0, 1024, 768}));
}

TEST(SwayTree, NoWindowWhenFocusIsElsewhereOrTheTextIsNoTree) {
    EXPECT_FALSE(FocusedWindowInTree(Tree("", "", true))); // empty workspace
    EXPECT_FALSE(FocusedWindowInTree(Tree(Node("con", "x", false, 0, 0, 10, 10, 0))));
    EXPECT_FALSE(FocusedWindowInTree(""));
    EXPECT_FALSE(FocusedWindowInTree("[1,2]"));
    EXPECT_FALSE(FocusedWindowInTree("{\"nodes\": [ {\"focused\": tr"));
}

} // namespace
} // namespace glimmerly::platform::wayland
