// Longest-prefix-match tree over IPv4 prefixes, with a C calling convention.
//
// A tree is reached through its head: a node with key 0 and one mask entry of mask 0 and no
// data, whose two children point to the head itself (pat_new_head builds one). The head is
// what a search answers when no stored prefix holds the address, so a caller tells "no match"
// by a result whose key is 0 and whose mask entry has mask 0.
//
// Every stored prefix is one entry node that the caller builds (pat_node_new) and hands over
// to pat_insert. The tree adds branch nodes of its own where stored prefixes part; those carry
// no mask entry and are never returned. Keys and masks are in host byte order: the address
// 10.1.2.3 is the key 0x0A010203 and a /8 prefix has the mask 0xFF000000.
//
// Nodes, their mask arrays and the head are allocated with malloc/calloc and released with
// free(); pass the tree only nodes made by pat_node_new and pat_new_head. The data pointers
// belong to the caller until the node is inserted, then to the tree: pat_free releases them
// through the callback it is given. The tree has no lock; callers serialise access.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One prefix of a node: the mask (top L bits set for a /L prefix; 0 for /0) and the caller's
// value for it.
typedef struct pat_mask {
  uint32_t pm_mask;
  void* pm_data;
} pat_mask;

// A node of the tree. Entry nodes and the head have p_mlen 1 and p_m pointing to one mask
// entry; branch nodes have p_mlen 0 and p_m NULL. p_key of an entry is the address exactly as
// given to pat_node_new (bits below the mask included). p_bits is the prefix length the node
// stands for in the tree (managed by the tree). Children are NULL where a subtree is empty,
// except on the head, whose children point to itself while the tree is empty.
typedef struct pat_node {
  uint32_t p_key;
  pat_mask* p_m;
  uint8_t p_mlen;
  uint8_t p_bits;
  struct pat_node* p_left;
  struct pat_node* p_right;
} pat_node;

// Releases a data pointer held by the tree (for example free() for strdup'ed text).
typedef void (*pat_free_data_fn)(void* data);

// Returns the mask of a /len prefix: the top len bits set, 0 for len 0, and 0xFFFFFFFF for
// every len of 32 or more.
uint32_t pat_len_to_mask(unsigned len);

// Allocates an empty tree (the head described above). Returns NULL when out of memory. The
// caller owns the tree and releases it with pat_free.
pat_node* pat_new_head(void);

// Allocates an entry node for the prefix key/len holding `data`, ready for pat_insert.
// Returns NULL when len is above 32 or memory is out (data stays the caller's). The caller
// owns the node until pat_insert takes it.
pat_node* pat_node_new(uint32_t key, unsigned len, void* data);

// Stores the prefix of entry node `n` (its key under its single mask) in the tree `head`.
// Returns n when the prefix was new: the tree now owns n and its data. Returns the entry node
// that already holds the same prefix (same masked key and same mask) when there is one: the
// tree keeps that node and its data unchanged, and n stays the caller's (release it with
// pat_node_free). Returns NULL, leaving n the caller's, when n or head is NULL or n does not
// hold exactly one mask entry with a contiguous mask.
pat_node* pat_insert(pat_node* n, pat_node* head);

// Returns the entry node of the longest stored prefix that contains `key`; the head itself
// when no stored prefix does; NULL when head is NULL. The node stays the tree's.
pat_node* pat_search(uint32_t key, pat_node* head);

// Releases the whole tree: every node, every mask array and the head. Each non-NULL data
// pointer of an entry node or the head is passed to `free_data` once, unless free_data is
// NULL. NULL head does nothing. The head and every node of the tree are invalid afterwards.
void pat_free(pat_node* head, pat_free_data_fn free_data);

// Releases one node that is not in a tree (one that pat_insert turned down), passing its
// non-NULL data pointer to `free_data` unless free_data is NULL. NULL n does nothing.
void pat_node_free(pat_node* n, pat_free_data_fn free_data);

#ifdef __cplusplus
}  // extern "C"
#endif
