#include "wizard/title_tree.h"

#include <cstdio>

namespace wizard {

namespace {

std::string Format(const char* format, int a, int b = 0, int c = 0, int d = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

}  // namespace

TitleTreeModel BuildTitleTree(const TitleSetTable& table) {
  TitleTreeModel tree;
  int longest_seconds = 0, longest_frames = 0;
  for (int n = 1; n < kTitleSetTableSize; ++n) {
    const TitleSetInfo& vts = table[n];
    if (vts.PgcCount <= 0) continue;
    TitleTreeNode root{Format("VTS_%.2d", n), kTitleSetImage, {}};
    for (int j = 1; j <= vts.PgcCount && j < static_cast<int>(vts.Pgcs.size()); ++j) {
      const PgcInfo& pgc = vts.Pgcs[j];
      TitleTreeNode chain{Format("PGC %d [%.2d:%.2d:%.2d]", j, pgc.Hours, pgc.Minutes, pgc.Seconds),
                          kProgramChainImage,
                          {}};
      if (pgc.Angles > 1)
        for (int a = 1; a <= pgc.Angles; ++a)
          chain.Children.push_back({Format("Angle %d", a), kAngleImage, {}});
      const int seconds = pgc.PlayingSeconds(), frames = pgc.Frames();
      if (seconds > longest_seconds || (seconds == longest_seconds && frames > longest_frames)) {
        longest_seconds = seconds;
        longest_frames = frames;
        tree.DefaultNode = {static_cast<int>(tree.Roots.size()), j - 1};
        if (!chain.Children.empty()) tree.DefaultNode.push_back(0);
      }
      root.Children.push_back(std::move(chain));
    }
    tree.Roots.push_back(std::move(root));
  }
  return tree;
}

std::optional<TitleChoice> ChoiceFromNodeTexts(const std::vector<std::string>& texts_from_root,
                                               bool has_children) {
  const size_t depth = texts_from_root.size();
  if (depth < 2 || depth > 3 || (depth == 2 && has_children)) return std::nullopt;
  TitleChoice title{0, 0, 0};
  if (std::sscanf(texts_from_root[0].c_str(), "VTS_%d", &title.Vts) != 1 ||
      std::sscanf(texts_from_root[1].c_str(), "PGC %d", &title.Pgc) != 1 ||
      (depth == 3 && std::sscanf(texts_from_root[2].c_str(), "Angle %d", &title.Angle) != 1))
    return std::nullopt;
  return title;
}

std::string TitleLabelText(const TitleChoice& title) {
  if (title.Angle > 0)
    return Format(" VTS_%.2d > PGC %d > Angle %d", title.Vts, title.Pgc, title.Angle);
  return Format(" VTS_%.2d > PGC %d", title.Vts, title.Pgc);
}

}  // namespace wizard
