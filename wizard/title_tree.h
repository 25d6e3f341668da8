#pragma once

#include <optional>
#include <string>
#include <vector>

#include "wizard/title_set_table.h"
#include "wizard/wizard_state.h"

namespace wizard {

// State images of the title tree (pictures of TreeIconList).
enum TitleTreeImage { kTitleSetImage = 1, kProgramChainImage = 2, kAngleImage = 3 };

struct TitleTreeNode {
  std::string Text;
  int StateImage = 0;
  std::vector<TitleTreeNode> Children;
};

// The title sets of an analysed disc with their program chains and angles,
// and the node chosen at first.
struct TitleTreeModel {
  std::vector<TitleTreeNode> Roots;
  // Child indexes from a root down to the longest program chain, or to its
  // first angle when it has angles; empty when no chain has a playing time.
  std::vector<int> DefaultNode;
};

// "VTS_%.2d" per usable title set, "PGC %d [%.2d:%.2d:%.2d]" per program chain,
// "Angle %d" per angle of a chain with more than one. The first of equally
// long chains (seconds, then frames) is the default.
TitleTreeModel BuildTitleTree(const TitleSetTable& table);

// The title a node stands for, read from the texts of the nodes from its root
// down to it. Nothing for a title set node or a chain that has angle nodes.
std::optional<TitleChoice> ChoiceFromNodeTexts(const std::vector<std::string>& texts_from_root,
                                               bool has_children);

// " VTS_%.2d > PGC %d" with " > Angle %d" for a chosen angle.
std::string TitleLabelText(const TitleChoice& title);

}  // namespace wizard
