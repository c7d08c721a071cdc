// MSMediaScanViewsTables: the fixed tables of view filing: the class of the
// container made for a view key and the sort specifications of containers
// and of the items linked below them. Constant data; any thread.
#pragma once

// Sort specification of a view key (a property slot, VIEW_KEY_CONSTANT, or
// 0 for a view without keys): the properties a link is sorted by and its
// direction.
struct ViewSort {
  const char *names[2];
  int count;
  int ascending;
};
ViewSort msms_view_container_sort(int key);
ViewSort msms_view_item_sort(int key, int sort_folder_by_file_name);

// Class of the container made for key when filing an item of item_class.
const char *msms_view_container_class(int key, const char *item_class);
