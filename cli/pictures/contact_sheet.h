// A contact sheet: record pictures in a grid, each labelled with its record number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trackloom::cli {

class ContactSheet {
 public:
  // Room for count pictures of cell_width x cell_height, columns to a row.
  ContactSheet(int count, int columns, int cell_width, int cell_height);

  // Puts a picture (cell_width x cell_height RGB) into cell index, labelled number.
  void Place(int index, uint64_t record_number, const uint8_t* rgb);

  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<uint8_t>& pixels() const { return pixels_; }

 private:
  void DrawNumber(int x, int y, uint64_t number);

  int columns_;
  int cell_width_;
  int cell_height_;
  int width_;
  int height_;
  std::vector<uint8_t> pixels_;
};

}  // namespace trackloom::cli
