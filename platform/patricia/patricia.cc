// A path-compressed binary trie of prefixes. Each node stands for a prefix of p_bits bits; a
// node's children continue with bit p_bits of the key (0 left, 1 right). Entry nodes are the
// caller's prefixes; branch nodes (no mask entry) are added where two stored prefixes part.
// The head sits above the trie: its left child is the top node, or the head itself when the
// trie is empty, and its right child always points back to the head.
#include "platform/patricia/patricia.h"

#include <cstdlib>

namespace {

// The key of a node cut to the prefix it stands for.
uint32_t PrefixOf(const pat_node* n) { return n->p_key & pat_len_to_mask(n->p_bits); }

// Bit `depth` of key counted from the top (depth 0 is the most significant bit).
bool BitAt(uint32_t key, unsigned depth) { return ((key >> (31 - depth)) & 1u) != 0; }

// Length of the common leading bits of a and b.
unsigned CommonBits(uint32_t a, uint32_t b) {
  const uint32_t diff = a ^ b;
  return diff == 0 ? 32u : static_cast<unsigned>(__builtin_clz(diff));
}

// Prefix length of a contiguous mask, or -1 when the set bits are not all at the top.
int MaskLength(uint32_t mask) {
  const unsigned len = static_cast<unsigned>(__builtin_popcount(mask));
  return pat_len_to_mask(len) == mask ? static_cast<int>(len) : -1;
}

pat_node* AllocNode(uint32_t key, uint8_t bits) {
  auto* n = static_cast<pat_node*>(std::calloc(1, sizeof(pat_node)));
  if (n != nullptr) {
    n->p_key = key;
    n->p_bits = bits;
  }
  return n;
}

// The link slot of `parent` that leads towards key.
pat_node** ChildLink(pat_node* parent, uint32_t key) {
  return BitAt(key, parent->p_bits) ? &parent->p_right : &parent->p_left;
}

bool IsEntry(const pat_node* n) { return n->p_mlen > 0; }

// Releases a node that is no part of a tree (its children are not followed).
void ReleaseNode(pat_node* n, pat_free_data_fn free_data) {
  if (n->p_m != nullptr) {
    for (unsigned i = 0; i < n->p_mlen; ++i) {
      if (free_data != nullptr && n->p_m[i].pm_data != nullptr) free_data(n->p_m[i].pm_data);
    }
    std::free(n->p_m);
  }
  std::free(n);
}

// Post-order release of a subtree; its depth is at most 33 nodes (one per prefix length).
void ReleaseSubtree(pat_node* n, pat_free_data_fn free_data) {
  if (n == nullptr) return;
  ReleaseSubtree(n->p_left, free_data);
  ReleaseSubtree(n->p_right, free_data);
  ReleaseNode(n, free_data);
}

pat_node* TopOf(pat_node* head) { return head->p_left == head ? nullptr : head->p_left; }

}  // namespace

extern "C" {

uint32_t pat_len_to_mask(unsigned len) {
  if (len == 0) return 0;
  if (len >= 32) return 0xFFFFFFFFu;
  return ~((1u << (32 - len)) - 1u);
}

pat_node* pat_new_head(void) {
  pat_node* head = pat_node_new(0, 0, nullptr);
  if (head != nullptr) head->p_left = head->p_right = head;
  return head;
}

pat_node* pat_node_new(uint32_t key, unsigned len, void* data) {
  if (len > 32) return nullptr;
  pat_node* n = AllocNode(key, static_cast<uint8_t>(len));
  if (n == nullptr) return nullptr;
  n->p_m = static_cast<pat_mask*>(std::calloc(1, sizeof(pat_mask)));
  if (n->p_m == nullptr) {
    std::free(n);
    return nullptr;
  }
  n->p_m[0].pm_mask = pat_len_to_mask(len);
  n->p_m[0].pm_data = data;
  n->p_mlen = 1;
  return n;
}

pat_node* pat_insert(pat_node* n, pat_node* head) {
  if (n == nullptr || head == nullptr || n->p_mlen != 1 || n->p_m == nullptr) return nullptr;
  const int len = MaskLength(n->p_m[0].pm_mask);
  if (len < 0) return nullptr;
  n->p_bits = static_cast<uint8_t>(len);
  n->p_left = n->p_right = nullptr;
  const uint32_t prefix = PrefixOf(n);

  if (TopOf(head) == nullptr) {
    head->p_left = n;
    return n;
  }
  pat_node** link = &head->p_left;
  for (;;) {
    pat_node* node = *link;
    if (node == nullptr) {
      *link = n;
      return n;
    }
    unsigned common = CommonBits(prefix, PrefixOf(node));
    if (common > node->p_bits) common = node->p_bits;
    if (common > n->p_bits) common = n->p_bits;

    if (common == node->p_bits && common == n->p_bits) {  // the same prefix
      if (IsEntry(node)) return node;
      n->p_left = node->p_left;  // an entry takes the place of a branch node
      n->p_right = node->p_right;
      *link = n;
      ReleaseNode(node, nullptr);
      return n;
    }
    if (common == node->p_bits) {  // node's prefix holds n's: go down
      link = ChildLink(node, prefix);
      continue;
    }
    if (common == n->p_bits) {  // n's prefix holds node's: n goes above it
      *ChildLink(n, PrefixOf(node)) = node;
      *link = n;
      return n;
    }
    // The prefixes part at bit `common`: a branch node of that length takes both.
    pat_node* branch = AllocNode(prefix & pat_len_to_mask(common), static_cast<uint8_t>(common));
    if (branch == nullptr) return nullptr;
    *ChildLink(branch, prefix) = n;
    *ChildLink(branch, PrefixOf(node)) = node;
    *link = branch;
    return n;
  }
}

pat_node* pat_search(uint32_t key, pat_node* head) {
  if (head == nullptr) return nullptr;
  pat_node* best = head;
  for (pat_node* node = TopOf(head); node != nullptr;) {
    if (((key ^ node->p_key) & pat_len_to_mask(node->p_bits)) != 0) break;
    if (IsEntry(node)) best = node;
    if (node->p_bits == 32) break;
    node = *ChildLink(node, key);
  }
  return best;
}

void pat_free(pat_node* head, pat_free_data_fn free_data) {
  if (head == nullptr) return;
  ReleaseSubtree(TopOf(head), free_data);
  ReleaseNode(head, free_data);
}

void pat_node_free(pat_node* n, pat_free_data_fn free_data) {
  if (n != nullptr) ReleaseNode(n, free_data);
}

}  // extern "C"
