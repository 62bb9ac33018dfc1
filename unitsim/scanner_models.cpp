// Built-in scanners of every model class, with their EEPROM images.
#include "scanner_models.h"

#include <cstdlib>

namespace lumarc::unitsim {
namespace {

using Image = std::array<uint8_t, kEepromSize>;

// A counter of 500-page units, low byte first.
void units500(Image& image, size_t at, uint32_t units)
{
    image[at] = static_cast<uint8_t>(units & 0xFF);
    image[at + 1] = static_cast<uint8_t>(units >> 8);
}

uint8_t nibble(int value)
{
    return static_cast<uint8_t>((value < 0 ? 0x8 : 0) | (std::abs(value) & 0x7));
}

uint8_t pair(int low, int high)
{
    return static_cast<uint8_t>(nibble(low) | nibble(high) << 4);
}

uint8_t signMagnitude(int value)
{
    return static_cast<uint8_t>((value < 0 ? 0x80 : 0) | (std::abs(value) & 0x7F));
}

// A zero image with the date of first use (year, month, day) and the
// serial number (24 bits, big-endian) where every class keeps them.
Image blank(std::array<uint8_t, 3> firstUse, uint32_t serial)
{
    Image image{};
    image[96] = firstUse[0];
    image[97] = firstUse[1];
    image[98] = firstUse[2];
    image[100] = static_cast<uint8_t>(serial >> 16);
    image[101] = static_cast<uint8_t>(serial >> 8);
    image[102] = static_cast<uint8_t>(serial);
    return image;
}

// The totals of the classes that count in 10- and 500-page units.
void totals(Image& image, uint8_t adfTens, uint32_t adfUnits, uint8_t flatbedTens,
            uint32_t flatbedUnits)
{
    image[38] = adfTens;
    units500(image, 46, adfUnits);
    image[39] = flatbedTens;
    units500(image, 44, flatbedUnits);
}

ScannerProfile model(const char* name, const char* revision, const char* firmware)
{
    ScannerProfile p;
    p.model = p.product = name;
    p.vendor = "VELORIN";
    p.revision = revision;
    p.firmware = firmware;
    p.vpd.windowWidth = 2480;
    p.vpd.windowLength = 3507;
    p.vpd.videoOutput = 0xEE;
    p.hardwareStatus[0] = 0x01; // ready
    return p;
}

// Sheet-fed office scanners.
ScannerProfile feeder(const char* name, const char* revision, const char* firmware,
                      bool duplex)
{
    ScannerProfile p = model(name, revision, firmware);
    p.vpd.physicalFunction = duplex ? 0x9200 : 0x8200;
    p.vpd.bufferSize = 16u << 20;
    p.vpd.brightnessSteps = p.vpd.contrastSteps = 255;
    p.vpd.thresholdSteps = 255;
    p.vpd.dither = 0x42;
    p.vpd.gamma = 0x42;
    p.vpd.imageProcessing = 0x08C0;
    p.vpd.compression = 0x0800;
    return p;
}

ScannerProfile lumen1100()
{
    ScannerProfile p = feeder("LUMEN-1100", "3.02", "302A00000000", false);
    p.eeprom = blank({0, 0, 0}, 0);
    totals(p.eeprom, 7, 250, 0, 0);
    units500(p.eeprom, 60, 42);
    p.eeprom[0] = signMagnitude(2);
    p.eeprom[1] = signMagnitude(-1);
    p.eeprom[2] = signMagnitude(3);
    p.lampTimer = 45;
    return p;
}

ScannerProfile lumen2150()
{
    ScannerProfile p = feeder("LUMEN-2150", "1.20", "120B00000000", true);
    // The feeder whose back side takes offsets -50..50 at this window width.
    p.vpd.windowWidth = 0x1300;
    p.eeprom = blank({0, 0, 0}, 0);
    totals(p.eeprom, 4, 980, 0, 0);
    units500(p.eeprom, 60, 77);
    p.eeprom[2] = signMagnitude(-4);
    p.eeprom[3] = signMagnitude(6);
    p.eeprom[7] = signMagnitude(12);
    p.eeprom[8] = signMagnitude(-9);
    return p;
}

ScannerProfile skara330()
{
    ScannerProfile p = feeder("SKARA-330", "4.11", "411C00000000", true);
    p.eeprom = blank({0, 0, 0}, 0);
    // ADF total 1234567 and the counter 98765 in their byte orders.
    p.eeprom[103] = 0x12;
    p.eeprom[104] = 0x00;
    p.eeprom[105] = 0x87;
    p.eeprom[106] = 0xD6;
    p.eeprom[109] = 0x01;
    p.eeprom[110] = 0xCD;
    p.eeprom[111] = 0x81;
    p.eeprom[30] = 3;
    p.eeprom[31] = static_cast<uint8_t>(-2);
    p.eeprom[32] = 1;
    p.eeprom[33] = static_cast<uint8_t>(-1);
    return p;
}

ScannerProfile flatbedFeeder(const char* name, const char* revision, const char* firmware)
{
    ScannerProfile p = feeder(name, revision, firmware, true);
    p.vpd.physicalFunction = 0xD200;
    p.vpd.maximumX = p.vpd.maximumY = 1200;
    p.vpd.bufferSize = 32u << 20;
    return p;
}

ScannerProfile orbix6100()
{
    ScannerProfile p = flatbedFeeder("ORBIX-6100", "2.40", "240D00000000");
    p.eeprom = blank({23, 5, 17}, 61007);
    totals(p.eeprom, 3, 180, 5, 64);
    units500(p.eeprom, 60, 30);
    p.eeprom[0] = signMagnitude(1);
    p.eeprom[7] = signMagnitude(-2);
    return p;
}

ScannerProfile orbix9100()
{
    ScannerProfile p = flatbedFeeder("ORBIX-9100", "2.71", "271E00000000");
    p.vpd.windowWidth = 3508;
    p.vpd.windowLength = 4961;
    p.eeprom = blank({22, 9, 1}, 91044);
    totals(p.eeprom, 9, 2201, 2, 410);
    units500(p.eeprom, 60, 120);
    return p;
}

ScannerProfile tessel(const char* name, const char* revision, uint32_t adf, uint32_t counter)
{
    ScannerProfile p = feeder(name, revision, "000000000000", true);
    p.eeprom = blank({0, 0, 0}, 0);
    for (int i = 0; i < 4; ++i)
        p.eeprom[103 + i] = static_cast<uint8_t>(adf >> (24 - 8 * i));
    for (int i = 0; i < 3; ++i)
        p.eeprom[109 + i] = static_cast<uint8_t>(counter >> (16 - 8 * i));
    p.eeprom[30] = static_cast<uint8_t>(-3);
    p.eeprom[31] = 2;
    return p;
}

ScannerProfile vanta810()
{
    ScannerProfile p = feeder("VANTA-810", "5.03", "503F00000000", true);
    p.vpd.bufferSize = 4u << 20;
    p.eeprom = blank({0, 0, 0}, 0);
    // ADF total 345678, pad 54321, pick roller 76543, three bytes each, and
    // the bytes that belong to the two consumables.
    p.eeprom[68] = 0x05;
    p.eeprom[33] = 0x46;
    p.eeprom[32] = 0x4E;
    p.eeprom[86] = 0x00;
    p.eeprom[57] = 0xD4;
    p.eeprom[56] = 0x31;
    p.eeprom[87] = 0x01;
    p.eeprom[63] = 0x2A;
    p.eeprom[62] = 0xFF;
    for (const size_t at : {60, 61, 88, 90})
        p.eeprom[at] = static_cast<uint8_t>(0x10 + at);
    for (const size_t at : {64, 65, 66, 89, 91})
        p.eeprom[at] = static_cast<uint8_t>(0x20 + at);
    return p;
}

ScannerProfile miro1010()
{
    ScannerProfile p = feeder("MIRO-1010", "1.05", "105G00000000", false);
    // Its VPD page lacks what the model table's override block supplies.
    p.vpd = VpdFacts{};
    p.vpd.windowWidth = 2480;
    p.vpd.windowLength = 3507;
    std::array<uint8_t, 128> block{};
    block[0] = 0x8A; // the counter 3210
    block[1] = 0x0C;
    block[2] = 0x45; // ADF total 1 x 65536 + 0x2345
    block[3] = 0x23;
    block[4] = 0x01;
    for (size_t i = 5; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(0x40 + i);
    p.block = block;
    p.eeprom = blank({0, 0, 0}, 0);
    return p;
}

// Classes 13, 14, 16 and 18: pad and pick roller counters, offsets in
// nibbles at 53-55, magnification at 56-57 (18: 10-11).
ScannerProfile departmental(const char* name, const char* revision, const char* firmware,
                            std::array<uint8_t, 3> firstUse, uint32_t serial)
{
    ScannerProfile p = feeder(name, revision, firmware, true);
    p.vpd.bufferSize = 64u << 20;
    p.vpd.imageProcessing = 0xFCC0;
    p.vpd.compression = 0xE800;
    p.eeprom = blank(firstUse, serial);
    totals(p.eeprom, 6, 1450, 0, 0);
    units500(p.eeprom, 124, 37); // pad
    units500(p.eeprom, 60, 0x0102); // pick roller: 129000 pages
    p.eeprom[53] = pair(-3, 2);
    p.eeprom[54] = pair(1, -1);
    p.eeprom[56] = signMagnitude(-12);
    return p;
}

ScannerProfile kavro1310()
{
    ScannerProfile p = departmental("KAVRO-1310", "6.10", "610H00000000", {24, 7, 9}, 131);
    p.vpd = VpdFacts{}; // completed by the model table's override block
    p.vpd.windowWidth = 2480;
    p.vpd.windowLength = 3507;
    p.vpd.endorser = 0x21;
    p.hardwareStatus[10] = 35;
    p.eeprom[55] = pair(2, -3); // bottom offsets: no flatbed here
    return p;
}

ScannerProfile kavro14f0()
{
    ScannerProfile p = departmental("KAVRO-14F0", "6.32", "632J00000000", {25, 1, 30}, 14017);
    p.vpd.physicalFunction = 0xD200;
    p.vpd.endorser = 0xA2;
    p.hardwareStatus[10] = 72;
    totals(p.eeprom, 6, 1450, 8, 333);
    p.eeprom[55] = pair(-1, 3);
    p.eeprom[57] = signMagnitude(9);
    p.powerSavingByte = 64;
    p.eeprom[64] = 0x85;
    p.powerSaving = 0x85;
    return p;
}

ScannerProfile selva1610()
{
    ScannerProfile p = departmental("SELVA-1610", "7.01", "7A017B02E003", {25, 4, 12}, 161600);
    p.vpd.endorser = 0xA1;
    p.vpd.connectedInterface = 2;
    p.hardwareStatus[10] = 55;
    p.powerSavingByte = 64;
    p.eeprom[64] = 0x84;
    p.powerSaving = 0x84;
    return p;
}

ScannerProfile flatis1710()
{
    ScannerProfile p = model("FLATIS-1710", "8.20", "8200A1000000");
    p.vpd.physicalFunction = 0x4200;
    p.vpd.maximumX = p.vpd.maximumY = 1200;
    p.vpd.windowWidth = 3508;
    p.vpd.windowLength = 4961;
    p.vpd.bufferSize = 8u << 20;
    p.eeprom = blank({21, 12, 3}, 1710);
    // Flatbed total 4 x 10 + 120 x 500 + 2 x 128000 = 316040.
    p.eeprom[39] = 4;
    p.eeprom[47] = 120;
    p.eeprom[46] = 2;
    p.eeprom[55] = pair(2, -2);
    return p;
}

ScannerProfile novia1810()
{
    ScannerProfile p = departmental("NOVIA-1810", "9.04", "904K00000000", {25, 8, 21}, 181818);
    p.vpd.imageProcessing = 0xFDE0;
    p.vpd.endorser = 0xA3;
    p.hardwareStatus[10] = 18;
    // Magnification +2.5 % (ADF) and -1.7 % (flatbed) in the class-18 form.
    p.eeprom[10] = 0x29;
    p.eeprom[11] = 0x31;
    p.eeprom[55] = pair(4, -2);
    p.powerSavingByte = 64;
    p.eeprom[64] = 0x86;
    p.powerSaving = 0x86;
    return p;
}

} // namespace

Image orbix4000Eeprom()
{
    Image image = blank({24, 3, 18}, 100234);
    totals(image, 2, 5120, 7, 880);
    units500(image, 60, 610); // pick roller
    units500(image, 62, 96);  // brake roller
    image[220] = pair(1, -2);
    image[221] = pair(-1, 3);
    image[222] = pair(2, 0);
    image[218] = signMagnitude(-15);
    image[219] = signMagnitude(8);
    image[328] = 0x84;
    return image;
}

Image orbix2200Eeprom()
{
    Image image = blank({0, 0, 0}, 0);
    totals(image, 1, 90, 4, 212);
    units500(image, 124, 12);
    units500(image, 60, 25);
    image[37] = 0x02; // the top edge is cleaned, the left one not
    image[53] = pair(2, 1);
    image[54] = pair(-1, 0);
    image[55] = pair(-2, 3);
    image[56] = signMagnitude(5);
    image[57] = signMagnitude(-7);
    return image;
}

std::vector<ScannerProfile> classScanners()
{
    return {lumen1100(),
            lumen2150(),
            skara330(),
            orbix6100(),
            tessel("TESSEL-710", "3.30", 456789, 23456),
            vanta810(),
            orbix9100(),
            miro1010(),
            tessel("TESSEL-1210", "3.52", 765432, 65432),
            kavro1310(),
            kavro14f0(),
            selva1610(),
            flatis1710(),
            novia1810()};
}

} // namespace lumarc::unitsim
