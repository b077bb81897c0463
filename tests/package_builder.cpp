#include "tests/package_builder.h"

#include <gtest/gtest.h>

#include "package/package.h"

std::string LittleEndian32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

PackageBuilder::PackageBuilder() : signature_(PACKAGE_SIGNATURE), count_set_(false), count_(0) {}

uint32_t PackageBuilder::AddData(const std::string& bytes) {
  uint32_t offset = static_cast<uint32_t>(data_.size());
  data_ += bytes;
  return offset;
}

PackageBuilder& PackageBuilder::AddRecord(const std::string& name, uint32_t offset, uint32_t size,
                                          const std::string& reserved) {
  EXPECT_LE(name.size(), 16u) << "a name field is 16 bytes";
  EXPECT_EQ(reserved.size(), 8u) << "the reserved field is 8 bytes";
  records_.push_back(Record{name, offset, size, reserved});
  return *this;
}

PackageBuilder& PackageBuilder::AddEntry(const std::string& name, const std::string& data) {
  uint32_t offset = AddData(data);
  return AddRecord(name, offset, static_cast<uint32_t>(data.size()));
}

PackageBuilder& PackageBuilder::SetSignature(const std::string& signature) {
  EXPECT_EQ(signature.size(), 12u) << "the signature is 12 bytes";
  signature_ = signature;
  return *this;
}

PackageBuilder& PackageBuilder::SetEntryCount(uint32_t count) {
  count_set_ = true;
  count_ = count;
  return *this;
}

uint32_t PackageBuilder::DataStart() const {
  return PACKAGE_OFFSET + sizeof(PackFileHeader) +
         static_cast<uint32_t>(records_.size() * sizeof(PackFileEntry));
}

std::string PackageBuilder::Build() const {
  std::string bytes = signature_;
  bytes.resize(12, ' ');
  bytes += LittleEndian32(count_set_ ? count_ : static_cast<uint32_t>(records_.size()));
  for (const Record& record : records_) {
    std::string name = record.name;
    name.resize(16, '\0');
    bytes += name + LittleEndian32(record.offset) + LittleEndian32(record.size) + record.reserved;
  }
  return bytes + data_;
}

std::string ExecutableWithPackage(const std::string& image, const std::string& package) {
  EXPECT_LE(image.size(), PACKAGE_OFFSET) << "the image must end before the package";
  std::string bytes = image;
  bytes.resize(PACKAGE_OFFSET, '\0');
  return bytes + package;
}
