// The doubly linked list of the library. Nodes are plain C structures, so they are
// allocated the C way and a C caller could never be handed memory it cannot free.
#include <cstdlib>

#include "libxcom.h"

extern "C" {

xlist *xlist_add(xlist **head, void *ptr) noexcept {
    if (head == nullptr) return nullptr;
    auto *node = static_cast<xlist *>(std::calloc(1, sizeof(xlist)));
    if (node == nullptr) return nullptr;
    node->ptr = ptr;
    if (*head == nullptr) {
        *head = node;
        return node;
    }
    xlist *tail = *head;
    while (tail->next != nullptr)
        tail = tail->next;
    tail->next = node;
    node->prev = tail;
    return node;
}

void xlist_remove(xlist **head, xlist *element) noexcept {
    if (head == nullptr || element == nullptr) return;
    if (*head == element) *head = element->next;
    if (element->prev != nullptr) element->prev->next = element->next;
    if (element->next != nullptr) element->next->prev = element->prev;
    std::free(element);
}

void xlist_walk(xlist *head, int (*callback)(xlist *)) noexcept {
    if (callback == nullptr) return;
    // The successor is taken first so that a callback may remove its own node.
    for (xlist *node = head, *next = nullptr; node != nullptr; node = next) {
        next = node->next;
        if (callback(node) != 0) return;
    }
}

int xlist_size(xlist *head) noexcept {
    int count = 0;
    for (const xlist *node = head; node != nullptr; node = node->next)
        ++count;
    return count;
}

}  // extern "C"
