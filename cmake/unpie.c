/* Clears the PIE flag (DF_1_PIE in DT_FLAGS_1) of a position-independent
 * executable so that glibc's dlopen also accepts it as a shared library.
 * The program still runs as before: the flag only tells the loader how the
 * file was linked. Usage: unpie FILE */
#include <elf.h>
#include <stdio.h>
#include <string.h>

static int patch64(FILE *f, const Elf64_Ehdr *eh) {
    for (int i = 0; i < eh->e_phnum; ++i) {
        Elf64_Phdr ph;
        if (fseek(f, (long)(eh->e_phoff + (Elf64_Off)i * eh->e_phentsize), SEEK_SET) != 0 ||
            fread(&ph, sizeof ph, 1, f) != 1)
            return -1;
        if (ph.p_type != PT_DYNAMIC) continue;
        for (Elf64_Xword off = 0; off + sizeof(Elf64_Dyn) <= ph.p_filesz; off += sizeof(Elf64_Dyn)) {
            Elf64_Dyn d;
            if (fseek(f, (long)(ph.p_offset + off), SEEK_SET) != 0 || fread(&d, sizeof d, 1, f) != 1) return -1;
            if (d.d_tag == DT_NULL) break;
            if (d.d_tag != DT_FLAGS_1) continue;
            d.d_un.d_val &= ~(Elf64_Xword)DF_1_PIE;
            if (fseek(f, (long)(ph.p_offset + off), SEEK_SET) != 0 || fwrite(&d, sizeof d, 1, f) != 1) return -1;
            return 0;
        }
    }
    return 0; /* no flag: nothing to clear */
}

static int patch32(FILE *f, const Elf32_Ehdr *eh) {
    for (int i = 0; i < eh->e_phnum; ++i) {
        Elf32_Phdr ph;
        if (fseek(f, (long)(eh->e_phoff + (Elf32_Off)i * eh->e_phentsize), SEEK_SET) != 0 ||
            fread(&ph, sizeof ph, 1, f) != 1)
            return -1;
        if (ph.p_type != PT_DYNAMIC) continue;
        for (Elf32_Word off = 0; off + sizeof(Elf32_Dyn) <= ph.p_filesz; off += sizeof(Elf32_Dyn)) {
            Elf32_Dyn d;
            if (fseek(f, (long)(ph.p_offset + off), SEEK_SET) != 0 || fread(&d, sizeof d, 1, f) != 1) return -1;
            if (d.d_tag == DT_NULL) break;
            if (d.d_tag != DT_FLAGS_1) continue;
            d.d_un.d_val &= ~(Elf32_Word)DF_1_PIE;
            if (fseek(f, (long)(ph.p_offset + off), SEEK_SET) != 0 || fwrite(&d, sizeof d, 1, f) != 1) return -1;
            return 0;
        }
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: unpie FILE\n");
        return 2;
    }
    FILE *f = fopen(argv[1], "r+b");
    if (!f) {
        perror(argv[1]);
        return 1;
    }
    unsigned char ident[EI_NIDENT];
    int rc = -1;
    if (fread(ident, sizeof ident, 1, f) == 1 && memcmp(ident, ELFMAG, SELFMAG) == 0 &&
        ident[EI_DATA] == ELFDATA2LSB && fseek(f, 0, SEEK_SET) == 0) {
        if (ident[EI_CLASS] == ELFCLASS64) {
            Elf64_Ehdr eh;
            if (fread(&eh, sizeof eh, 1, f) == 1) rc = patch64(f, &eh);
        } else if (ident[EI_CLASS] == ELFCLASS32) {
            Elf32_Ehdr eh;
            if (fread(&eh, sizeof eh, 1, f) == 1) rc = patch32(f, &eh);
        }
    }
    if (fclose(f) != 0) rc = -1;
    if (rc != 0) fprintf(stderr, "unpie: %s: not a little-endian ELF file or cannot be patched\n", argv[1]);
    return rc == 0 ? 0 : 1;
}
