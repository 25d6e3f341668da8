#include "tests/wizard/title_page_reading.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "wizard/job_settings.h"
#include "wizard/title_tree.h"

namespace kv_test {
namespace {

// The frames a preparation would count over the chain's playing time.
int FramesOfPlayingTime(const wizard::TitleSetInfo& vts, const wizard::PgcInfo& chain) {
  const double frames = chain.PlayingSeconds() * static_cast<double>(vts.VideoFrameRate);
  return std::isfinite(frames) ? static_cast<int>(std::clamp(frames, 1.0, 1e7)) : 1;
}

bool ReadTitle(const wizard::TitleSetTable& table, const std::vector<std::string>& texts,
               bool has_children) {
  const std::optional<wizard::TitleChoice> title = wizard::ChoiceFromNodeTexts(texts, has_children);
  if (texts.size() == 1 || (texts.size() == 2 && has_children)) return !title;
  if (!title || title->Vts < 1 || title->Vts >= wizard::kTitleSetTableSize) return false;
  const wizard::TitleSetInfo& vts = table[title->Vts];
  if (title->Pgc < 1 || title->Pgc > vts.PgcCount ||
      title->Pgc >= static_cast<int>(vts.Pgcs.size()))
    return false;
  const wizard::PgcInfo& chain = vts.Pgcs[title->Pgc];
  if (title->Angle < 0 || title->Angle > std::max(chain.Angles, 0)) return false;
  if (wizard::TitleLabelText(*title).empty()) return false;
  wizard::TitleFacts facts = wizard::FactsForTitle(vts, title->Pgc);
  facts.PgcFrameCount = FramesOfPlayingTime(vts, chain);
  wizard::JobSettings settings;
  settings.InitialiseForTitle(facts);
  return true;
}

bool ReadNode(const wizard::TitleSetTable& table, const wizard::TitleTreeNode& node,
              std::vector<std::string>& texts) {
  texts.push_back(node.Text);
  bool ok = ReadTitle(table, texts, !node.Children.empty());
  for (const wizard::TitleTreeNode& child : node.Children) ok = ok && ReadNode(table, child, texts);
  texts.pop_back();
  return ok;
}

}  // namespace

bool ReadAnalysedDisc(const wizard::TitleSetTable& table) {
  const wizard::TitleTreeModel tree = wizard::BuildTitleTree(table);
  // The node chosen at first exists.
  const std::vector<wizard::TitleTreeNode>* level = &tree.Roots;
  for (int index : tree.DefaultNode) {
    if (index < 0 || index >= static_cast<int>(level->size())) return false;
    level = &(*level)[static_cast<size_t>(index)].Children;
  }
  std::vector<std::string> texts;
  for (const wizard::TitleTreeNode& root : tree.Roots)
    if (!ReadNode(table, root, texts)) return false;
  return true;
}

}  // namespace kv_test
