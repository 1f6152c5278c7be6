import java.awt.image.BufferedImage;
import java.awt.image.IndexColorModel;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.stream.Stream;
import javax.imageio.ImageIO;
import javax.imageio.ImageReader;
import javax.imageio.metadata.IIOMetadata;
import javax.imageio.stream.ImageInputStream;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import org.w3c.dom.NamedNodeMap;
import org.w3c.dom.Node;

/**
 * The library as a Java program sees it: VornNative.jar on the class path,
 * libVornNative.so on java.library.path. One group of checks per run
 * (the first argument); a group whose methods are not built prints why and
 * exits with SKIPPED.
 *
 * System properties: vorn.methods (the built methods, comma-separated),
 * vorn.data (the fixtures), vorn.xdg (a folder for the desktop fixtures).
 */
public final class VornNativeTest {
    static final int SKIPPED = 77;
    static final Set<String> built = new HashSet<>();
    static final AtomicInteger failures = new AtomicInteger();
    static Path data;
    static Path scratch;
    static boolean x11;

    // A name that needs more than ASCII: Latin, CJK and a character outside
    // the BMP (a surrogate pair in Java, four bytes in UTF-8).
    static final String WORLDLY = "Grüße 東京 \uD83D\uDE00";

    public static void main(String[] args) throws Exception {
        for (String m : System.getProperty("vorn.methods", "").split("[,;]"))
            if (!m.isEmpty()) built.add(m);
        data = Paths.get(System.getProperty("vorn.data", "."));
        String group = args.length > 0 ? args[0] : "";
        x11 = args.length > 1 && args[1].equals("x11");
        if (group.equals("loadOnly")) {
            Class.forName("VornNative");
            System.out.println("loaded");
            return;
        }
        if (group.equals("boxChild")) {
            boxChild();
            return;
        }
        scratch = Files.createTempDirectory("vorn-java-");
        int status;
        try {
            status = run(group);
        } finally {
            deleteTree(scratch);
        }
        if (status == SKIPPED) System.exit(SKIPPED);
        if (status != 0) System.exit(1);
        if (failures.get() > 0) {
            System.out.println(failures.get() + " check(s) failed");
            System.exit(1);
        }
        System.out.println("all checks passed");
    }

    static int run(String group) throws Exception {
        switch (group) {
            case "load": return load();
            case "loadFailure": return loadFailure();
            case "nulls": return nulls();
            case "names": return names();
            case "makeTransparent": return needs("makeTransparent") ? makeTransparent() : SKIPPED;
            case "saveJPEG": return needs("saveJPEG") ? saveJpeg() : SKIPPED;
            case "wav2au": return needs("wav2au") ? wav2au() : SKIPPED;
            case "makeCab": return needs("makeCab") ? makeCab() : SKIPPED;
            case "copyToClipboard": return needs("copyToClipboard") ? copyToClipboard() : SKIPPED;
            case "showFile": return needs("showFile") ? showFile() : SKIPPED;
            case "threads": return threads();
            case "boxes": return boxes();
            default:
                System.out.println("unknown group '" + group + "'");
                return 1;
        }
    }

    // ---- checks and helpers

    static void check(boolean ok, String what) {
        if (!ok) {
            failures.incrementAndGet();
            System.out.println("FAIL: " + what);
        }
    }

    static void checkEqual(long expected, long actual, String what) {
        check(expected == actual, what + ": expected " + expected + ", got " + actual);
    }

    static boolean needs(String method) {
        if (built.contains(method)) return true;
        System.out.println("SKIP: " + method + " is not built into libVornNative.so");
        return false;
    }

    static boolean has(String method) {
        if (built.contains(method)) return true;
        System.out.println("skip: " + method + " part (not built)");
        return false;
    }

    static Path fresh(String name) throws IOException {
        Path dir = Files.createTempDirectory(scratch, name);
        return dir;
    }

    static Path copyFixture(String fixture, Path dir, String name) throws IOException {
        Path target = dir.resolve(name);
        Files.copy(data.resolve(fixture), target, StandardCopyOption.REPLACE_EXISTING);
        return target;
    }

    static void deleteTree(Path root) throws IOException {
        if (!Files.exists(root)) return;
        try (Stream<Path> walk = Files.walk(root)) {
            for (Path p : walk.sorted(Comparator.reverseOrder()).toList()) Files.deleteIfExists(p);
        }
    }

    // Names in dir as raw bytes, read by find(1) so that Java's own file name
    // decoding cannot hide what reached the file system.
    static List<String> rawNames(Path dir) throws Exception {
        Result r = exec(List.of("find", dir.toString(), "-mindepth", "1", "-maxdepth", "1", "-printf", "%f\\0"), 30);
        List<String> names = new ArrayList<>();
        int start = 0;
        for (int i = 0; i < r.out.length; ++i) {
            if (r.out[i] == 0) {
                names.add(new String(r.out, start, i - start, StandardCharsets.ISO_8859_1));
                start = i + 1;
            }
        }
        return names;
    }

    static String latin1(String text) {
        return new String(text.getBytes(StandardCharsets.UTF_8), StandardCharsets.ISO_8859_1);
    }

    static boolean isEmpty(Path dir) throws Exception {
        return rawNames(dir).isEmpty();
    }

    static final class Result {
        int exit;
        byte[] out;
        String err;

        String text() {
            return new String(out, StandardCharsets.UTF_8);
        }
    }

    static Result exec(List<String> command, int seconds) throws Exception {
        ProcessBuilder builder = new ProcessBuilder(command);
        Path errFile = Files.createTempFile(scratch, "stderr", ".txt");
        builder.redirectError(errFile.toFile());
        Process process = builder.start();
        process.getOutputStream().close();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        Thread reader = new Thread(() -> {
            try (InputStream in = process.getInputStream()) {
                in.transferTo(out);
            } catch (IOException e) {
                // the process's end closes the stream
            }
        });
        reader.start();
        Result r = new Result();
        if (!process.waitFor(seconds, TimeUnit.SECONDS)) {
            process.destroyForcibly();
            r.exit = -1;
        } else {
            r.exit = process.exitValue();
        }
        reader.join();
        r.out = out.toByteArray();
        r.err = Files.readString(errFile, StandardCharsets.UTF_8);
        Files.delete(errFile);
        return r;
    }

    // A second JVM on the same class path and library path.
    static Result childJvm(String libraryPath, String group, int seconds) throws Exception {
        String java = Paths.get(System.getProperty("java.home"), "bin", "java").toString();
        return exec(List.of(java, "-Djava.library.path=" + libraryPath,
                            "-Dvorn.methods=" + String.join(",", built), "-Dvorn.data=" + data,
                            "-cp", System.getProperty("java.class.path"), "VornNativeTest", group),
                    seconds);
    }

    static int u16le(byte[] b, int at) {
        return (b[at] & 0xFF) | (b[at + 1] & 0xFF) << 8;
    }

    static int u32be(byte[] b, int at) {
        return ByteBuffer.wrap(b, at, 4).order(ByteOrder.BIG_ENDIAN).getInt();
    }

    // ---- load

    record Native(String name, Class<?>[] parameters, Object[] nulls) {}

    static final Native[] NATIVES = {
        new Native("copyToClipboard", new Class<?>[] {String.class}, new Object[] {null}),
        new Native("showFile", new Class<?>[] {String.class, String.class}, new Object[] {null, null}),
        new Native("makeCab", new Class<?>[] {String[].class, String.class, String.class},
                   new Object[] {null, null, null}),
        new Native("makeTransparent", new Class<?>[] {String.class}, new Object[] {null}),
        new Native("saveJPEG", new Class<?>[] {String.class, int[].class, int.class, int.class},
                   new Object[] {null, null, 1, 1}),
        new Native("wav2au", new Class<?>[] {String.class, String.class}, new Object[] {null, null}),
    };

    // The class loads its library; every method the build has is bound and
    // every other one is not, so the class and the library agree.
    static int load() throws Exception {
        Class<?> c = Class.forName("VornNative");
        check(c.getPackageName().isEmpty(), "VornNative is in the unnamed package");
        for (Native n : NATIVES) {
            Method m = c.getDeclaredMethod(n.name(), n.parameters());
            int mod = m.getModifiers();
            check(Modifier.isPublic(mod) && Modifier.isStatic(mod) && Modifier.isNative(mod),
                  n.name() + " is public static native");
            check(m.getReturnType() == int.class, n.name() + " returns int");
            try {
                Object result = m.invoke(null, n.nulls());
                check(built.contains(n.name()), n.name() + " is bound although it is not built");
                check(Integer.valueOf(0).equals(result), n.name() + " with null arguments gives 0, got " + result);
            } catch (InvocationTargetException e) {
                boolean unbound = e.getCause() instanceof UnsatisfiedLinkError;
                check(unbound, n.name() + " threw " + e.getCause());
                check(!built.contains(n.name()), n.name() + " is built but has no JNI entry point: " + e.getCause());
                if (unbound) System.out.println("not built, not bound: " + n.name());
            }
        }
        return 0;
    }

    // Without the library the class says what is missing and where it looked.
    static int loadFailure() throws Exception {
        Path empty = fresh("nolib");
        Result r = childJvm(empty.toString(), "loadOnly", 60);
        check(r.exit != 0 && r.exit != -1, "the class fails to load without its library (exit " + r.exit + ")");
        check(r.err.contains("VornNative: cannot load the native library libVornNative.so"),
              "the error names the library: " + r.err);
        check(r.err.contains(empty.toString()), "the error names java.library.path: " + r.err);
        check(!r.text().contains("loaded"), "nothing ran after the failure");
        return 0;
    }

    // ---- nulls: 0, no crash, and no file touched

    static int nulls() throws Exception {
        boolean any = false;
        Path dir = fresh("nulls");
        if (has("copyToClipboard")) {
            any = true;
            checkEqual(0, VornNative.copyToClipboard(null), "copyToClipboard(null)");
        }
        if (has("showFile")) {
            any = true;
            Path file = dir.resolve("x.txt");
            checkEqual(0, VornNative.showFile(null, file.toString()), "showFile(null, file)");
            checkEqual(0, VornNative.showFile(dir.toString(), null), "showFile(dir, null)");
            checkEqual(0, VornNative.showFile(null, null), "showFile(null, null)");
        }
        if (has("makeTransparent")) {
            any = true;
            checkEqual(0, VornNative.makeTransparent(null), "makeTransparent(null)");
        }
        if (has("saveJPEG")) {
            any = true;
            String jpg = dir.resolve("out.jpg").toString();
            checkEqual(0, VornNative.saveJPEG(null, new int[4], 2, 2), "saveJPEG(null, pixels, 2, 2)");
            checkEqual(0, VornNative.saveJPEG(jpg, null, 2, 2), "saveJPEG(file, null, 2, 2)");
            checkEqual(0, VornNative.saveJPEG(jpg, null, 0, 0), "saveJPEG(file, null, 0, 0)");
        }
        if (has("wav2au")) {
            any = true;
            Path wav = copyFixture("mono-s16-8012.wav", dir, "in.wav");
            String au = dir.resolve("out.au").toString();
            checkEqual(0, VornNative.wav2au(null, au), "wav2au(null, au)");
            checkEqual(0, VornNative.wav2au(wav.toString(), null), "wav2au(wav, null)");
            Files.delete(wav);
        }
        if (has("makeCab")) {
            any = true;
            Path gif = copyFixture("tiny-5x3.gif", dir, "a.gif");
            String d = dir + "/";
            checkEqual(0, VornNative.makeCab(null, d, "a.cab"), "makeCab(null, dir, name)");
            checkEqual(0, VornNative.makeCab(new String[] {"a.gif"}, null, "a.cab"), "makeCab(entries, null, name)");
            checkEqual(0, VornNative.makeCab(new String[] {"a.gif"}, d, null), "makeCab(entries, dir, null)");
            checkEqual(0, VornNative.makeCab(new String[] {"a.gif", null}, d, "a.cab"),
                       "makeCab with a null entry");
            checkEqual(0, VornNative.makeCab(new String[] {null}, d, "a.cab"), "makeCab with only a null entry");
            Files.delete(gif);
        }
        check(isEmpty(dir), "null arguments made no file: " + rawNames(dir));
        if (!any) {
            System.out.println("SKIP: no method is built yet");
            return SKIPPED;
        }
        return 0;
    }

    // ---- names: UTF-8 on the file system, refused names touch nothing

    static int names() throws Exception {
        boolean any = false;
        check("UTF-8".equals(System.getProperty("sun.jnu.encoding")),
              "the test JVM runs with UTF-8 file names (sun.jnu.encoding=" + System.getProperty("sun.jnu.encoding")
                  + "); run it under a UTF-8 locale");
        if (has("saveJPEG")) {
            any = true;
            Path dir = fresh("names-jpeg");
            String name = WORLDLY + ".jpg";
            checkEqual(1, VornNative.saveJPEG(dir.resolve(name).toString(), solid(4, 4, 0x3366CC), 4, 4),
                       "saveJPEG to a non-ASCII name");
            check(rawNames(dir).equals(List.of(latin1(name))), "the JPEG's name reached the file system as UTF-8: "
                  + rawNames(dir));
            byte[] picture = Files.readAllBytes(dir.resolve(name));
            Files.delete(dir.resolve(name));
            refusedNames(dir, (path) -> VornNative.saveJPEG(path, solid(2, 2, 0), 2, 2), "saveJPEG", picture);
        }
        if (has("makeTransparent")) {
            any = true;
            Path dir = fresh("names-gif");
            Path gif = copyFixture("tiny-5x3.gif", dir, WORLDLY + ".gif");
            checkEqual(1, VornNative.makeTransparent(gif.toString()), "makeTransparent on a non-ASCII name");
            check(transparentIndex(gif) >= 0, "the non-ASCII GIF was rewritten with a transparent colour");
            check(rawNames(dir).equals(List.of(latin1(WORLDLY + ".gif"))), "no other file: " + rawNames(dir));
            Files.delete(gif);
            refusedNames(dir, (path) -> VornNative.makeTransparent(path), "makeTransparent",
                         Files.readAllBytes(data.resolve("tiny-5x3.gif")));
        }
        if (has("wav2au")) {
            any = true;
            Path dir = fresh("names-au");
            Path wav = copyFixture("mono-s16-8012.wav", dir, WORLDLY + " in.wav");
            Path au = dir.resolve(WORLDLY + " out.au");
            checkEqual(1, VornNative.wav2au(wav.toString(), au.toString()), "wav2au between non-ASCII names");
            check(new HashSet<>(rawNames(dir)).equals(Set.of(latin1(WORLDLY + " in.wav"), latin1(WORLDLY + " out.au"))),
                  "the AU file's name reached the file system as UTF-8: " + rawNames(dir));
            Files.delete(wav);
            Files.delete(au);
            refusedNames(dir, (path) -> VornNative.wav2au(data.resolve("mono-s16-8012.wav").toString(), path),
                         "wav2au (output name)", "an earlier sound".getBytes(StandardCharsets.US_ASCII));
        }
        if (!any) {
            System.out.println("SKIP: none of saveJPEG, makeTransparent, wav2au is built yet");
            return SKIPPED;
        }
        return 0;
    }

    interface NameCall {
        int call(String path) throws Exception;
    }

    // Names the method must refuse with 0, leaving dir as it was: a name of
    // more than 255 bytes whose first 255 bytes name an existing file, one
    // that is short in characters but long in UTF-8 bytes, unpaired
    // surrogates and an embedded U+0000.
    static void refusedNames(Path dir, NameCall method, String what, byte[] keep) throws Exception {
        String prefix = dir + "/";
        int room = 255 - prefix.getBytes(StandardCharsets.UTF_8).length;
        String cut = "k".repeat(room);
        Path existing = dir.resolve(cut);
        Files.write(existing, keep);
        String[] refused = {
            prefix + cut + "x".repeat(300 - 255),
            prefix + "東".repeat(room / 3 + 1),
            prefix + "bad\uD800.x",
            prefix + "bad\uDC00.x",
            prefix + "bad\uDE00\uD83D.x",
            prefix + "bad\u0000.x",
        };
        for (String name : refused) {
            checkEqual(0, method.call(name), what + " refuses " + describe(name));
        }
        check(Arrays.equals(keep, Files.readAllBytes(existing)), what + ": the file named by the first 255 bytes is untouched");
        check(rawNames(dir).equals(List.of(cut)), what + ": refused names made no file: " + rawNames(dir));
        Files.delete(existing);
    }

    static String describe(String name) {
        StringBuilder b = new StringBuilder();
        String tail = name.length() > 40 ? "..." + name.substring(name.length() - 12) : name;
        for (char c : tail.toCharArray()) {
            if (c < 0x20 || Character.isSurrogate(c)) b.append(String.format("\\u%04X", (int) c));
            else b.append(c);
        }
        return "a name of " + name.getBytes(StandardCharsets.UTF_8).length + " bytes (" + b + ")";
    }

    // ---- GIF

    record Gif(int width, int height, int[] indices, int[] rgb, int transparent) {}

    static Gif readGif(Path file) throws IOException {
        ImageReader reader = ImageIO.getImageReadersByFormatName("gif").next();
        try (ImageInputStream in = ImageIO.createImageInputStream(file.toFile())) {
            reader.setInput(in);
            BufferedImage image = reader.read(0);
            IIOMetadata metadata = reader.getImageMetadata(0);
            int transparent = -1;
            Node root = metadata.getAsTree("javax_imageio_gif_image_1.0");
            for (Node n = root.getFirstChild(); n != null; n = n.getNextSibling()) {
                if (!n.getNodeName().equals("GraphicControlExtension")) continue;
                NamedNodeMap a = n.getAttributes();
                if ("TRUE".equals(a.getNamedItem("transparentColorFlag").getNodeValue()))
                    transparent = Integer.parseInt(a.getNamedItem("transparentColorIndex").getNodeValue());
            }
            IndexColorModel palette = (IndexColorModel) image.getColorModel();
            int w = image.getWidth(), h = image.getHeight();
            int[] indices = new int[w * h];
            int[] rgb = new int[w * h];
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    int index = image.getRaster().getSample(x, y, 0);
                    indices[y * w + x] = index;
                    rgb[y * w + x] = palette.getRGB(index) & 0xFFFFFF;
                }
            return new Gif(w, h, indices, rgb, transparent);
        } finally {
            reader.dispose();
        }
    }

    static int transparentIndex(Path file) throws IOException {
        return readGif(file).transparent();
    }

    // The rewritten picture keeps every pixel's colour and declares its
    // top-left pixel's index transparent; ImageIO is the independent reader.
    static void checkTransparentRewrite(Gif before, Path file, String what) throws IOException {
        byte[] bytes = Files.readAllBytes(file);
        check(new String(bytes, 0, 6, StandardCharsets.US_ASCII).equals("GIF89a"), what + ": written as GIF89a");
        Gif after = readGif(file);
        check(after.width() == before.width() && after.height() == before.height(),
              what + ": size " + after.width() + "x" + after.height() + ", was " + before.width() + "x" + before.height());
        if (after.width() != before.width() || after.height() != before.height()) return;
        checkEqual(before.indices()[0], after.transparent(), what + ": transparent index is the top-left pixel's");
        check(Arrays.equals(before.indices(), after.indices()), what + ": palette indices unchanged");
        check(Arrays.equals(before.rgb(), after.rgb()), what + ": colours unchanged");
    }

    static int makeTransparent() throws Exception {
        Path dir = fresh("gif");
        for (String fixture : List.of("tiny-5x3.gif", "two-colour-37x23.gif", "interlaced-rose.gif", "rose-87a.gif")) {
            Path gif = copyFixture(fixture, dir, fixture);
            Gif before = readGif(gif);
            check(before.transparent() < 0, fixture + " declares no transparency to begin with");
            checkEqual(1, VornNative.makeTransparent(gif.toString()), "makeTransparent(" + fixture + ")");
            checkTransparentRewrite(before, gif, fixture);
        }
        // tiny-5x3: red with one blue pixel at the top left, so blue goes.
        Gif tiny = readGif(dir.resolve("tiny-5x3.gif"));
        checkEqual(0x0000FF, tiny.rgb()[0], "tiny-5x3: the top-left pixel is blue");

        // Already transparent: left byte for byte.
        Path already = copyFixture("gif-suite/static_transparent.gif", dir, "already.gif");
        byte[] original = Files.readAllBytes(already);
        checkEqual(1, VornNative.makeTransparent(already.toString()), "makeTransparent on a transparent GIF");
        check(Arrays.equals(original, Files.readAllBytes(already)), "a GIF with transparency is left as it was");

        // Failures: 0, nothing written.
        Path failures = fresh("gif-fail");
        checkEqual(0, VornNative.makeTransparent(failures.resolve("missing.gif").toString()), "a missing GIF gives 0");
        check(isEmpty(failures), "a missing GIF makes no file");
        Path notGif = copyFixture("mono-s16-8012.wav", failures, "sound.gif");
        byte[] wav = Files.readAllBytes(notGif);
        checkEqual(0, VornNative.makeTransparent(notGif.toString()), "a WAV file named .gif gives 0");
        check(Arrays.equals(wav, Files.readAllBytes(notGif)), "a file that is not a GIF is left as it was");
        checkEqual(0, VornNative.makeTransparent(failures.toString()), "a directory gives 0");
        return 0;
    }

    // ---- JPEG

    static int[] solid(int w, int h, int rgb) {
        int[] p = new int[w * h];
        Arrays.fill(p, rgb);
        return p;
    }

    // Four quadrants: red, green / blue, white; bits 24-31 as given.
    static int[] quadrants(int w, int h, int high) {
        int[] p = new int[w * h];
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int c = y < h / 2 ? (x < w / 2 ? 0xFF0000 : 0x00FF00) : (x < w / 2 ? 0x0000FF : 0xFFFFFF);
                p[y * w + x] = c | high;
            }
        return p;
    }

    static boolean near(int expected, int actual, int tolerance) {
        for (int shift = 0; shift <= 16; shift += 8) {
            int e = (expected >> shift) & 0xFF, a = (actual >> shift) & 0xFF;
            if (Math.abs(e - a) > tolerance) return false;
        }
        return true;
    }

    static void checkJpegColour(BufferedImage image, int x, int y, int expected, String what) {
        int actual = image.getRGB(x, y) & 0xFFFFFF;
        check(near(expected, actual, 24), what + String.format(": pixel (%d,%d) is %06X, expected about %06X", x, y, actual, expected));
    }

    static int saveJpeg() throws Exception {
        Path dir = fresh("jpeg");
        int w = 64, h = 48;
        Path plain = dir.resolve("quadrants.jpg");
        checkEqual(1, VornNative.saveJPEG(plain.toString(), quadrants(w, h, 0), w, h), "saveJPEG quadrants");
        BufferedImage image = ImageIO.read(plain.toFile());
        check(image != null, "ImageIO reads the JPEG");
        if (image != null) {
            checkEqual(w, image.getWidth(), "JPEG width");
            checkEqual(h, image.getHeight(), "JPEG height");
            checkJpegColour(image, 8, 8, 0xFF0000, "top left red");
            checkJpegColour(image, w - 8, 8, 0x00FF00, "top right green");
            checkJpegColour(image, 8, h - 8, 0x0000FF, "bottom left blue");
            checkJpegColour(image, w - 8, h - 8, 0xFFFFFF, "bottom right white");
        }
        byte[] bytes = Files.readAllBytes(plain);
        check((bytes[0] & 0xFF) == 0xFF && (bytes[1] & 0xFF) == 0xD8, "starts with SOI");
        check((bytes[bytes.length - 2] & 0xFF) == 0xFF && (bytes[bytes.length - 1] & 0xFF) == 0xD9, "ends with EOI");

        // Bits 24-31 do not reach the file.
        Path high = dir.resolve("high.jpg");
        checkEqual(1, VornNative.saveJPEG(high.toString(), quadrants(w, h, 0xA5000000), w, h), "saveJPEG with high bits");
        check(Arrays.equals(bytes, Files.readAllBytes(high)), "bits 24-31 of the pixels are ignored");

        // A real picture, 70x46 from a PPM: close to the original everywhere.
        Ppm rose = readPpm(data.resolve("rose-70x46.ppm"));
        Path roseJpg = dir.resolve("rose.jpg");
        checkEqual(1, VornNative.saveJPEG(roseJpg.toString(), rose.pixels, rose.width, rose.height), "saveJPEG rose");
        BufferedImage roseImage = ImageIO.read(roseJpg.toFile());
        check(roseImage != null && roseImage.getWidth() == rose.width && roseImage.getHeight() == rose.height,
              "the rose decodes at 70x46");
        if (roseImage != null && roseImage.getWidth() == rose.width && roseImage.getHeight() == rose.height) {
            double error = 0;
            for (int y = 0; y < rose.height; ++y)
                for (int x = 0; x < rose.width; ++x) {
                    int a = rose.pixels[y * rose.width + x], b = roseImage.getRGB(x, y);
                    for (int s = 0; s <= 16; s += 8) error += Math.abs(((a >> s) & 0xFF) - ((b >> s) & 0xFF));
                }
            error /= 3.0 * rose.width * rose.height;
            check(error < 6, "the rose's mean error per channel is " + error);
        }

        // Odd sizes: a single pixel and a single row.
        for (int[] size : new int[][] {{1, 1}, {3, 1}, {1, 5}}) {
            Path p = dir.resolve("size-" + size[0] + "x" + size[1] + ".jpg");
            checkEqual(1, VornNative.saveJPEG(p.toString(), solid(size[0], size[1], 0x0000FF), size[0], size[1]),
                       "saveJPEG " + size[0] + "x" + size[1]);
            BufferedImage small = ImageIO.read(p.toFile());
            check(small != null && small.getWidth() == size[0] && small.getHeight() == size[1],
                  "the " + size[0] + "x" + size[1] + " JPEG has its size");
            if (small != null) checkJpegColour(small, 0, 0, 0x0000FF, size[0] + "x" + size[1] + " stays blue");
        }

        // Failures: 0, no file, an existing file left as it was.
        Path fail = fresh("jpeg-fail");
        Path kept = fail.resolve("kept.jpg");
        byte[] keep = "an earlier picture".getBytes(StandardCharsets.US_ASCII);
        Files.write(kept, keep);
        Object[][] refused = {
            {"a short pixel array", solid(4, 4, 0).length - 1, 4, 4},
            {"an empty pixel array", 0, 4, 4},
            {"a negative width", 16, -4, 4},
            {"a negative height", 16, 4, -4},
            {"a size whose product overflows", 16, 65536, 65536},
            {"a zero width", 16, 0, 4},
        };
        for (Object[] c : refused) {
            int length = (Integer) c[1];
            checkEqual(0, VornNative.saveJPEG(kept.toString(), new int[length], (Integer) c[2], (Integer) c[3]),
                       "saveJPEG refuses " + c[0]);
            checkEqual(0, VornNative.saveJPEG(fail.resolve("new.jpg").toString(), new int[length], (Integer) c[2],
                                              (Integer) c[3]), "saveJPEG refuses " + c[0] + " (new file)");
        }
        check(Arrays.equals(keep, Files.readAllBytes(kept)), "a refused picture leaves the existing file as it was");
        checkEqual(0, VornNative.saveJPEG(fail.resolve("no/such/dir.jpg").toString(), solid(2, 2, 0), 2, 2),
                   "saveJPEG into a missing directory");
        check(rawNames(fail).equals(List.of("kept.jpg")), "failures made no file: " + rawNames(fail));
        return 0;
    }

    static final class Ppm {
        int width, height;
        int[] pixels;
    }

    static Ppm readPpm(Path file) throws IOException {
        byte[] b = Files.readAllBytes(file);
        int[] at = {0};
        String magic = ppmToken(b, at);
        if (!magic.equals("P6")) throw new IOException("not a P6 file");
        Ppm p = new Ppm();
        p.width = Integer.parseInt(ppmToken(b, at));
        p.height = Integer.parseInt(ppmToken(b, at));
        if (!ppmToken(b, at).equals("255")) throw new IOException("maxval is not 255");
        int pos = at[0] + 1;
        p.pixels = new int[p.width * p.height];
        for (int i = 0; i < p.pixels.length; ++i, pos += 3)
            p.pixels[i] = (b[pos] & 0xFF) << 16 | (b[pos + 1] & 0xFF) << 8 | (b[pos + 2] & 0xFF);
        return p;
    }

    static String ppmToken(byte[] b, int[] at) {
        int i = at[0];
        while (true) {
            while (Character.isWhitespace(b[i])) ++i;
            if (b[i] != '#') break;
            while (b[i] != '\n') ++i;
        }
        int start = i;
        while (!Character.isWhitespace(b[i])) ++i;
        at[0] = i;
        return new String(b, start, i - start, StandardCharsets.US_ASCII);
    }

    // ---- AU

    // Header fields read by hand, then by Java's own sound reader.
    static long checkAu(Path au, String what) throws Exception {
        byte[] b = Files.readAllBytes(au);
        check(b.length >= 24, what + ": at least a header");
        if (b.length < 24) return -1;
        check(new String(b, 0, 4, StandardCharsets.US_ASCII).equals(".snd"), what + ": magic .snd");
        checkEqual(24, u32be(b, 4), what + ": data offset");
        checkEqual(b.length - 24, u32be(b, 8), what + ": data length is the rest of the file");
        checkEqual(1, u32be(b, 12), what + ": encoding mu-law");
        checkEqual(8012, u32be(b, 16), what + ": sample rate");
        checkEqual(1, u32be(b, 20), what + ": channels");
        AudioFileFormat format = AudioSystem.getAudioFileFormat(au.toFile());
        AudioFormat f = format.getFormat();
        check(format.getType() == AudioFileFormat.Type.AU, what + ": javax.sound reads an AU file");
        check(f.getEncoding() == AudioFormat.Encoding.ULAW, what + ": javax.sound sees mu-law, got " + f.getEncoding());
        check(f.getSampleRate() == 8012f && f.getChannels() == 1 && f.getSampleSizeInBits() == 8,
              what + ": javax.sound sees 8012 Hz, one channel, 8 bits: " + f);
        checkEqual(b.length - 24, format.getFrameLength(), what + ": javax.sound frame count");
        return b.length - 24;
    }

    // The data chunk's size, found by walking the chunks.
    static long wavDataBytes(Path wav) throws IOException {
        byte[] b = Files.readAllBytes(wav);
        int at = 12;
        while (at + 8 <= b.length) {
            String id = new String(b, at, 4, StandardCharsets.US_ASCII);
            long size = ByteBuffer.wrap(b, at + 4, 4).order(ByteOrder.LITTLE_ENDIAN).getInt() & 0xFFFFFFFFL;
            if (id.equals("data")) return size;
            at += 8 + size + (size & 1);
        }
        throw new IOException("no data chunk in " + wav);
    }

    static int wav2au() throws Exception {
        Path dir = fresh("au");
        // One second of 44100 Hz stereo: exactly 8012 frames.
        Path stereo = copyFixture("stereo-s16-44100.wav", dir, "stereo.wav");
        Path stereoAu = dir.resolve("stereo.au");
        checkEqual(1, VornNative.wav2au(stereo.toString(), stereoAu.toString()), "wav2au stereo 44100");
        checkEqual(8012, checkAu(stereoAu, "stereo 44100"), "one second gives 8012 frames");

        // Already 8012 Hz mono: one frame per input frame, give or take the
        // rounding of the length to whole words.
        Path mono = copyFixture("mono-s16-8012.wav", dir, "mono.wav");
        Path monoAu = dir.resolve("mono.au");
        checkEqual(1, VornNative.wav2au(mono.toString(), monoAu.toString()), "wav2au mono 8012");
        long inFrames = wavDataBytes(mono) / 2;
        long frames = checkAu(monoAu, "mono 8012");
        check(frames <= inFrames && frames >= inFrames - 2, "8012 Hz keeps its " + inFrames + " frames, got " + frames);

        Path tone = copyFixture("tone-u8-mono-11025.wav", dir, "tone.wav");
        Path toneAu = dir.resolve("tone.au");
        checkEqual(1, VornNative.wav2au(tone.toString(), toneAu.toString()), "wav2au 8-bit 11025");
        long expected = wavDataBytes(tone) * 8012 / 11025;
        long toneFrames = checkAu(toneAu, "8-bit 11025");
        check(Math.abs(toneFrames - expected) <= 4, "11025 Hz gives about " + expected + " frames, got " + toneFrames);

        // Failures: 0, no AU file, an existing one left as it was.
        Path fail = fresh("au-fail");
        checkEqual(0, VornNative.wav2au(fail.resolve("missing.wav").toString(), fail.resolve("a.au").toString()),
                   "a missing WAV gives 0");
        Path notWav = copyFixture("tiny-5x3.gif", fail, "picture.wav");
        checkEqual(0, VornNative.wav2au(notWav.toString(), fail.resolve("b.au").toString()), "a GIF named .wav gives 0");
        checkEqual(0, VornNative.wav2au(mono.toString(), fail.resolve("no/such/dir.au").toString()),
                   "an AU file in a missing directory gives 0");
        Path kept = fail.resolve("kept.au");
        byte[] keep = "an earlier sound".getBytes(StandardCharsets.US_ASCII);
        Files.write(kept, keep);
        checkEqual(0, VornNative.wav2au(fail.resolve("missing.wav").toString(), kept.toString()),
                   "a missing WAV over an existing AU gives 0");
        check(Arrays.equals(keep, Files.readAllBytes(kept)), "the existing AU file is left as it was");
        check(new HashSet<>(rawNames(fail)).equals(Set.of("picture.wav", "kept.au")), "failures made no file: " + rawNames(fail));
        return 0;
    }

    // ---- cabinets

    static int cabFolders(Path cab) throws IOException {
        byte[] b = Files.readAllBytes(cab);
        if (b.length < 28 || !new String(b, 0, 4, StandardCharsets.US_ASCII).equals("MSCF")) return -1;
        return u16le(b, 26);
    }

    // The cabinet directory is a prefix of the cabinet's path: it ends with
    // its separator.
    static int makeCab() throws Exception {
        Path dir = fresh("cab");
        String text = WORLDLY + ".txt";
        copyFixture("tiny-5x3.gif", dir, "a.gif");
        copyFixture("tone-u8-mono-11025.wav", dir, "b c.wav");
        Files.writeString(dir.resolve(text), "Grüße aus 東京\n".repeat(100), StandardCharsets.UTF_8);
        String[] entries = {"a.gif", "+", "b c.wav", text};
        checkEqual(1, VornNative.makeCab(entries, dir + "/", "pack.cab"), "makeCab of three files in two folders");
        Path cab = dir.resolve("pack.cab");
        check(Files.exists(cab), "the cabinet exists");
        if (!Files.exists(cab)) return 0;
        checkEqual(2, cabFolders(cab), "folders in the cabinet header");
        Result list = exec(List.of("cabextract", "-l", cab.toString()), 60);
        checkEqual(0, list.exit, "cabextract -l: " + list.err);
        for (String e : List.of("a.gif", "b c.wav", text))
            check(list.text().contains(e), "cabextract lists '" + e + "':\n" + list.text());
        Result test = exec(List.of("cabextract", "-t", cab.toString()), 60);
        checkEqual(0, test.exit, "cabextract -t: " + test.text() + test.err);
        Path out = fresh("cab-out");
        Result extract = exec(List.of("cabextract", "-q", "-d", out.toString(), cab.toString()), 60);
        checkEqual(0, extract.exit, "cabextract -d: " + extract.err);
        for (String e : List.of("a.gif", "b c.wav", text)) {
            Path got = out.resolve(e);
            check(Files.exists(got) && Arrays.equals(Files.readAllBytes(dir.resolve(e)), Files.readAllBytes(got)),
                  "'" + e + "' comes out of the cabinet as it went in");
        }
        check(rawNames(out).contains(latin1(text)), "the non-ASCII name comes out as UTF-8: " + rawNames(out));

        // A non-ASCII cabinet name.
        String worldlyCab = WORLDLY + ".cab";
        checkEqual(1, VornNative.makeCab(new String[] {"a.gif"}, dir + "/", worldlyCab), "makeCab to a non-ASCII name");
        check(rawNames(dir).contains(latin1(worldlyCab)), "the cabinet's name reached the file system as UTF-8");

        // Failures: 0 and no cabinet.
        Path fail = fresh("cab-fail");
        copyFixture("tiny-5x3.gif", fail, "a.gif");
        checkEqual(0, VornNative.makeCab(new String[] {"a.gif", "missing.gif"}, fail + "/", "bad.cab"),
                   "a missing entry gives 0");
        String longName = "n".repeat(300) + ".cab";
        checkEqual(0, VornNative.makeCab(new String[] {"a.gif"}, fail + "/", longName), "a cabinet name over 255 bytes");
        checkEqual(0, VornNative.makeCab(new String[] {"a.gif"}, fail + "/" + "d".repeat(260) + "/", "x.cab"),
                   "a directory name over 255 bytes");
        checkEqual(0, VornNative.makeCab(new String[] {"a.gif"}, fail + "/", "bad\uD800.cab"),
                   "a cabinet name with an unpaired surrogate");
        checkEqual(0, VornNative.makeCab(new String[] {"a\uDC00.gif"}, fail + "/", "x.cab"),
                   "an entry with an unpaired surrogate");
        check(rawNames(fail).equals(List.of("a.gif")), "failures left no cabinet: " + rawNames(fail));
        return 0;
    }

    // ---- desktop

    static int copyToClipboard() throws Exception {
        checkEqual(1, VornNative.copyToClipboard(WORLDLY), "copyToClipboard of a non-ASCII text");
        checkEqual(1, VornNative.copyToClipboard(""), "copyToClipboard of the empty text");
        checkEqual(1, VornNative.copyToClipboard("x".repeat(300_000)), "copyToClipboard of 300,000 characters");
        checkEqual(0, VornNative.copyToClipboard("bad\uD800"), "copyToClipboard refuses an unpaired surrogate");
        String display = System.getenv("DISPLAY");
        if (display == null || display.isEmpty()) {
            if (x11) {
                System.out.println("FAIL: no DISPLAY although the test runs under an X server");
                return 1;
            }
            System.out.println("skip: reading the desktop clipboard back (no DISPLAY; java.copyToClipboard.x11 does)");
            return 0;
        }
        String text = WORLDLY + " clip";
        checkEqual(1, VornNative.copyToClipboard(text), "copyToClipboard on a display");
        Result r = null;
        // The desktop tool takes over the selection asynchronously.
        for (int i = 0; i < 50; ++i) {
            r = exec(List.of("xclip", "-o", "-selection", "clipboard"), 10);
            if (r.exit == 0 && Arrays.equals(r.out, text.getBytes(StandardCharsets.UTF_8))) break;
            Thread.sleep(100);
        }
        check(r != null && r.exit == 0 && Arrays.equals(r.out, text.getBytes(StandardCharsets.UTF_8)),
              "xclip reads back the UTF-8 text: " + (r == null ? "" : r.text() + r.err));
        return 0;
    }

    static Path cwd() throws IOException {
        return Files.readSymbolicLink(Paths.get("/proc/self/cwd"));
    }

    // A recording program associated with text files through an XDG tree
    // of our own: it writes its argument where the test can read it.
    static int showFile() throws Exception {
        String xdgRoot = System.getProperty("vorn.xdg", "");
        if (xdgRoot.isEmpty()) {
            System.out.println("SKIP: vorn.xdg is not set");
            return SKIPPED;
        }
        Path xdg = Paths.get(xdgRoot);
        deleteTree(xdg);
        Path bin = Files.createDirectories(xdg.resolve("bin"));
        Path apps = Files.createDirectories(xdg.resolve("data/applications"));
        Path config = Files.createDirectories(xdg.resolve("config"));
        Path record = xdg.resolve("record");
        Path recorder = bin.resolve("vorn-recorder");
        Files.writeString(recorder, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + record + ".tmp\"\nmv \"" + record + ".tmp\" \""
            + record + "\"\n");
        recorder.toFile().setExecutable(true);
        Files.writeString(apps.resolve("vorn-recorder.desktop"),
                          "[Desktop Entry]\nType=Application\nName=Recorder\nExec=vorn-recorder %f\nMimeType=text/plain;\n");
        Files.writeString(config.resolve("mimeapps.list"), "[Default Applications]\ntext/plain=vorn-recorder.desktop\n");

        Path dir = fresh("show");
        String name = WORLDLY + "; $(touch pwned) 'q'.txt";
        Path file = dir.resolve(name);
        Files.writeString(file, "hello\n");
        Path before = cwd();
        checkEqual(1, VornNative.showFile(dir.toString(), file.toString()), "showFile on an associated text file");
        check(cwd().equals(before), "the current directory is the same after showFile");
        for (int i = 0; i < 100 && !Files.exists(record); ++i) Thread.sleep(100);
        check(Files.exists(record), "the associated program ran");
        if (Files.exists(record)) {
            byte[] got = Files.readAllBytes(record);
            check(Arrays.equals(got, file.toString().getBytes(StandardCharsets.UTF_8)),
                  "the program received the file name whole, as UTF-8: " + new String(got, StandardCharsets.UTF_8));
        }
        check(!Files.exists(dir.resolve("pwned")) && !Files.exists(Paths.get("/pwned")) && !Files.exists(before.resolve("pwned")),
              "no shell ran the name");

        Path unknown = dir.resolve("nothing.vorn-no-such-type");
        Files.writeString(unknown, "?");
        checkEqual(0, VornNative.showFile(dir.toString(), unknown.toString()), "showFile with no associated program gives 0");
        checkEqual(0, VornNative.showFile(dir.toString(), "bad\uD800.txt"), "showFile refuses an unpaired surrogate");
        return 0;
    }

    // ---- threads

    interface Job {
        void run(int thread, int round) throws Exception;
    }

    // Several Java threads call the methods at once; every result is checked
    // and every output must equal the one made by a lone call. makeCab takes
    // its entries relative to its own directory, so it also shows that no
    // other call changes the current directory under it.
    static int threads() throws Exception {
        List<Job> jobs = new ArrayList<>();
        Path ref = fresh("reference");
        if (has("makeTransparent")) {
            Path gif = copyFixture("interlaced-rose.gif", ref, "rose.gif");
            checkEqual(1, VornNative.makeTransparent(gif.toString()), "reference makeTransparent");
            byte[] expected = Files.readAllBytes(gif);
            jobs.add((t, r) -> {
                Path mine = copyFixture("interlaced-rose.gif", scratch, "gif-" + t + "-" + r + ".gif");
                checkEqual(1, VornNative.makeTransparent(mine.toString()), "thread " + t + " makeTransparent");
                check(Arrays.equals(expected, Files.readAllBytes(mine)), "thread " + t + ": the GIF is the lone call's");
                Files.delete(mine);
            });
        }
        if (has("saveJPEG")) {
            int[] pixels = readPpm(data.resolve("rose-70x46.ppm")).pixels;
            Path jpg = ref.resolve("rose.jpg");
            checkEqual(1, VornNative.saveJPEG(jpg.toString(), pixels, 70, 46), "reference saveJPEG");
            byte[] expected = Files.readAllBytes(jpg);
            jobs.add((t, r) -> {
                Path mine = scratch.resolve("jpg-" + t + "-" + r + ".jpg");
                checkEqual(1, VornNative.saveJPEG(mine.toString(), pixels, 70, 46), "thread " + t + " saveJPEG");
                check(Arrays.equals(expected, Files.readAllBytes(mine)), "thread " + t + ": the JPEG is the lone call's");
                Files.delete(mine);
            });
        }
        if (has("wav2au")) {
            Path wav = data.resolve("stereo-s16-44100.wav");
            Path au = ref.resolve("stereo.au");
            checkEqual(1, VornNative.wav2au(wav.toString(), au.toString()), "reference wav2au");
            byte[] expected = Files.readAllBytes(au);
            jobs.add((t, r) -> {
                Path mine = scratch.resolve("au-" + t + "-" + r + ".au");
                checkEqual(1, VornNative.wav2au(wav.toString(), mine.toString()), "thread " + t + " wav2au");
                check(Arrays.equals(expected, Files.readAllBytes(mine)), "thread " + t + ": the AU file is the lone call's");
                Files.delete(mine);
            });
        }
        if (has("makeCab")) {
            jobs.add((t, r) -> {
                Path mine = Files.createDirectories(scratch.resolve("cab-" + t + "-" + r));
                copyFixture("tiny-5x3.gif", mine, "t" + t + ".gif");
                copyFixture("tone-u8-mono-11025.wav", mine, "r" + r + ".wav");
                checkEqual(1, VornNative.makeCab(new String[] {"t" + t + ".gif", "+", "r" + r + ".wav"}, mine + "/",
                                                 "p.cab"), "thread " + t + " makeCab with relative entries");
                checkEqual(2, cabFolders(mine.resolve("p.cab")), "thread " + t + ": the cabinet has two folders");
            });
        }
        if (has("copyToClipboard")) {
            jobs.add((t, r) -> checkEqual(1, VornNative.copyToClipboard("thread " + t + " round " + r),
                                          "thread " + t + " copyToClipboard"));
        }
        if (jobs.isEmpty()) {
            System.out.println("SKIP: no method for the thread test is built yet");
            return SKIPPED;
        }
        int threadCount = 6, rounds = 8;
        CyclicBarrier start = new CyclicBarrier(threadCount);
        List<Thread> threads = new ArrayList<>();
        AtomicInteger calls = new AtomicInteger();
        for (int t = 0; t < threadCount; ++t) {
            final int thread = t;
            Thread th = new Thread(() -> {
                try {
                    start.await();
                } catch (Exception e) {
                    check(false, "thread " + thread + " did not start: " + e);
                    return;
                }
                for (int r = 0; r < rounds; ++r) {
                    for (int j = 0; j < jobs.size(); ++j) {
                        try {
                            jobs.get((j + thread) % jobs.size()).run(thread, r);
                        } catch (Exception e) {
                            check(false, "thread " + thread + ": " + e);
                        }
                        calls.incrementAndGet();
                    }
                }
            });
            threads.add(th);
            th.start();
        }
        for (Thread th : threads) th.join(120_000);
        for (Thread th : threads) check(!th.isAlive(), "every thread finished");
        checkEqual((long) threadCount * rounds * jobs.size(), calls.get(), "calls made");
        if (built.contains("makeCab")) {
            List<String> cabs = new ArrayList<>(List.of("cabextract", "-t", "-q"));
            try (Stream<Path> s = Files.list(scratch)) {
                s.filter(p -> p.getFileName().toString().startsWith("cab-")).forEach(p -> cabs.add(p.resolve("p.cab").toString()));
            }
            Result r = exec(cabs, 120);
            checkEqual(0, r.exit, "cabextract -t passes every cabinet the threads made: " + r.text() + r.err);
        }
        return 0;
    }

    // ---- error boxes reach standard error and nothing waits for a person

    static void boxChild() {
        if (built.contains("saveJPEG"))
            System.out.println("saveJPEG=" + VornNative.saveJPEG("/dev/full", solid(64, 64, 0x123456), 64, 64));
        if (built.contains("wav2au"))
            System.out.println("wav2au=" + VornNative.wav2au(data.resolve("stereo-s16-44100.wav").toString(), "/dev/full"));
        System.out.println("done");
    }

    static int boxes() throws Exception {
        if (!built.contains("saveJPEG") && !built.contains("wav2au")) {
            System.out.println("SKIP: neither saveJPEG nor wav2au is built yet");
            return SKIPPED;
        }
        Result r = childJvm(System.getProperty("java.library.path"), "boxChild", 60);
        check(r.exit == 0, "the child JVM ran to its end without waiting (exit " + r.exit + "): " + r.text() + r.err);
        check(r.text().contains("done"), "the child finished: " + r.text());
        int boxes = r.err.split("Error: Cannot write file", -1).length - 1;
        int writers = 0;
        for (String m : List.of("saveJPEG", "wav2au")) {
            if (!built.contains(m)) continue;
            ++writers;
            check(r.text().contains(m + "=0"), m + " to a full device gives 0: " + r.text());
        }
        checkEqual(writers, boxes, "one \"Cannot write file\" box per file on standard error:\n" + r.err);
        return 0;
    }
}
