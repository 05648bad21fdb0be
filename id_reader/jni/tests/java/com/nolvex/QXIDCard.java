package com.nolvex;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;

/**
 * Test-side Java class of the library's native methods. main() drives the
 * library from Java and prints one "key=value" line per observation, which
 * the test harness compares.
 *
 *   QXIDCard LIB read DEVICE       read a card from the reader simulator on DEVICE
 *   QXIDCard LIB log FILE          log setters: destination file and level
 *   QXIDCard LIB arrays            array handling without a reader
 */
public final class QXIDCard {
    public static native void SetLogType(int logType, String logFilePath);
    public static native void SetLogLevel(int logLevel);
    public static native int Init();
    public static native int OpenPort(int iPort);
    public static native int OpenPortEx(byte[] dev);
    public static native int ClosePort(int iPort);
    public static native int GetSAMStatus(int iPort, int bIfOpen);
    public static native int ResetSAM(int iPort, int bIfOpen);
    public static native int GetSAMID(int iPort, byte[] pucSAMID, int bIfOpen);
    public static native int StartFindIDCard(int iPort, byte[] pucIIN, int bIfOpen);
    public static native int SelectIDCard(int iPort, byte[] pucSN, int bIfOpen);
    public static native int ReadBaseMsg(int iPort, byte[] pucCHMsg, int[] puiCHMsgLen,
                                         byte[] pucPHMsg, int[] puiPHMsgLen, int bIfOpen);
    public static native int ReadNewAppMsg(int iPort, byte[] pucAppMsg, int[] puiAppMsgLen, int bIfOpen);
    public static native int ReadCardMsgSN(int iPort, byte[] pucMsgSN, int bIfOpen);
    public static native int ReadBaseFPMsg(int iPort, byte[] pucCHMsg, int[] puiCHMsgLen,
                                           byte[] pucPHMsg, int[] puiPHMsgLen,
                                           byte[] pucFPMsg, int[] puiFPMsgLen, int bIfOpen);
    public static native int PHunpack(byte[] wltData, byte[] bgr, int cbBgr);
    public static native int Wlt2bmpBuffer(byte[] wltData, byte[] imageData, int cbImageData);
    public static native int GetCardType(byte[] buffer, byte[] CardType);

    public static native int getIDName(byte[] info, byte[] out);
    public static native int getIDGender(byte[] info, byte[] out);
    public static native int getIDNational(byte[] info, byte[] out);
    public static native int getIDBirthday(byte[] info, byte[] out);
    public static native int getIDAddress(byte[] info, byte[] out);
    public static native int getIDCardNumber(byte[] info, byte[] out);
    public static native int getIDMaker(byte[] info, byte[] out);
    public static native int getIDStartDate(byte[] info, byte[] out);
    public static native int getIDEndDate(byte[] info, byte[] out);

    public static native int getResideEnglishName(byte[] info, byte[] out);
    public static native int getResideChineseName(byte[] info, byte[] out);
    public static native int getResideCardType(byte[] info, byte[] out);
    public static native int getGATName(byte[] info, byte[] out);
    public static native int getGATPassNumber(byte[] info, byte[] out);
    public static native int getGATCardType(byte[] info, byte[] out);

    private QXIDCard() {}

    private static void out(String key, Object value) {
        System.out.println(key + "=" + value);
    }

    private static String hex(byte[] b, int from, int to) {
        StringBuilder sb = new StringBuilder();
        for (int i = from; i < to; i++) sb.append(String.format("%02x", b[i] & 0xff));
        return sb.toString();
    }

    /** Text up to the first zero byte (or the whole array), as UTF-8. */
    private static String text(byte[] b) {
        int n = 0;
        while (n < b.length && b[n] != 0) n++;
        return new String(b, 0, n, StandardCharsets.UTF_8);
    }

    private static byte[] cString(String s) {
        byte[] a = s.getBytes(StandardCharsets.US_ASCII);
        return Arrays.copyOf(a, a.length + 1);
    }

    /** A resident-card text record: UTF-16LE fields padded with spaces. */
    static byte[] residentRecord(String name, String gender, String national, String birthday) {
        byte[] rec = new byte[256];
        for (int i = 0; i < rec.length; i += 2) { rec[i] = 0x20; rec[i + 1] = 0; }
        put(rec, 0, name);
        put(rec, 30, gender);
        put(rec, 32, national);
        put(rec, 36, birthday);
        return rec;
    }

    private static void put(byte[] rec, int offset, String s) {
        byte[] u = s.getBytes(StandardCharsets.UTF_16LE);
        System.arraycopy(u, 0, rec, offset, u.length);
    }

    static int readCard(String device) {
        int port = OpenPortEx(cString(device));
        out("open", port >= 0 ? "ok" : Integer.toString(port));
        if (port < 0) return 1;
        out("status", GetSAMStatus(port, 0));
        byte[] samid = new byte[16];
        out("samid", GetSAMID(port, samid, 0) + ":" + hex(samid, 0, 16));
        byte[] iin = new byte[4];
        int find = -1;
        for (int tries = 0; tries < 5 && find != 0; tries++) find = StartFindIDCard(port, iin, 0);
        out("find", find);
        byte[] sn = new byte[8];
        out("select", SelectIDCard(port, sn, 0));
        byte[] ch = new byte[256];
        byte[] ph = new byte[1024];
        int[] chLen = new int[1];
        int[] phLen = new int[1];
        out("base", ReadBaseMsg(port, ch, chLen, ph, phLen, 0));
        out("chlen", chLen[0]);
        out("phlen", phLen[0]);
        byte[] type = new byte[1];
        out("typeret", GetCardType(ch, type));
        out("type", "[" + (char) type[0] + "]");
        byte[] field = new byte[128];
        getIDName(ch, field);
        out("name", text(field));
        Arrays.fill(field, (byte) 0);
        getIDGender(ch, field);
        out("gender", text(field));
        Arrays.fill(field, (byte) 0);
        getIDNational(ch, field);
        out("national", text(field));
        Arrays.fill(field, (byte) 0);
        getIDBirthday(ch, field);
        out("birthday", text(field));
        Arrays.fill(field, (byte) 0);
        getIDAddress(ch, field);
        out("address", text(field));
        Arrays.fill(field, (byte) 0);
        getIDCardNumber(ch, field);
        out("number", text(field));
        Arrays.fill(field, (byte) 0);
        getIDMaker(ch, field);
        out("maker", text(field));
        Arrays.fill(field, (byte) 0);
        getIDStartDate(ch, field);
        out("start", text(field));
        Arrays.fill(field, (byte) 0);
        getIDEndDate(ch, field);
        out("end", text(field));
        byte[] bmp = new byte[38862];
        out("bmp", Wlt2bmpBuffer(ph, bmp, bmp.length));
        out("bmphead", hex(bmp, 0, 6));
        byte[] bgr = new byte[38556];
        out("bgr", PHunpack(ph, bgr, bgr.length));
        out("bgrsum", checksum(bgr));

        out("reset", ResetSAM(port, 0));
        selectCard(port);
        byte[] app = new byte[256];
        int[] appLen = new int[1];
        out("app", ReadNewAppMsg(port, app, appLen, 0) + ":" + appLen[0]);
        selectCard(port);
        byte[] msgsn = new byte[28];
        out("msgsn", ReadCardMsgSN(port, msgsn, 0));
        selectCard(port);
        byte[] fp = new byte[1024];
        int[] fpLen = new int[1];
        out("fp", ReadBaseFPMsg(port, ch, chLen, ph, phLen, fp, fpLen, 0)
                + ":" + chLen[0] + ":" + phLen[0] + ":" + fpLen[0]);
        // A text array too short for the card's text: refused, the lengths still reported.
        selectCard(port);
        byte[] shortText = new byte[100];
        int[] shortLen = new int[1];
        int[] phLen2 = new int[1];
        out("base_short", ReadBaseMsg(port, shortText, shortLen, ph, phLen2, 0) + ":" + shortLen[0]);
        out("close", ClosePort(port));
        return 0;
    }

    /** Lines go to FILE at level VERBOSE; then an empty path selects the default file. */
    private static void selectCard(int port) {
        byte[] iin = new byte[4];
        byte[] sn = new byte[8];
        StartFindIDCard(port, iin, 0);
        SelectIDCard(port, sn, 0);
    }

    private static long checksum(byte[] b) {
        long sum = 0;
        for (byte v : b) sum = sum * 31 + (v & 0xff);
        return sum;
    }

    static int logSetters(String file) {
        try {
            SetLogType(1, file);
            SetLogLevel(2);
            out("setters", "present");
        } catch (UnsatisfiedLinkError e) {
            out("setters", "absent");
        }
        out("openmissing", OpenPortEx(cString("/dev/qx-no-such-port")));
        try {
            SetLogType(1, "");
            out("openmissing2", OpenPortEx(cString("/dev/qx-no-such-port2")));
            SetLogType(0, null);
            SetLogLevel(4);
        } catch (UnsatisfiedLinkError e) {
            out("default", "absent");
        }
        return 0;
    }

    static int arrays() {
        // Short arrays for fixed-size outputs are refused before any exchange.
        out("samid_short", GetSAMID(-1, new byte[4], 0));
        out("iin_short", StartFindIDCard(-1, new byte[2], 0));
        // A device path without a terminating zero ends with the array.
        out("unterminated", OpenPortEx("/dev/qx-no-such-port".getBytes(StandardCharsets.US_ASCII)));
        // Resident-card accessors on a record built here.
        byte[] rec = residentRecord("张三丰", "1", "01", "19800101");
        byte[] small = new byte[4];
        Arrays.fill(small, (byte) 0x7f);
        out("name_small_ret", getIDName(rec, small));
        out("name_small", hex(small, 0, 4));
        byte[] name = new byte[64];
        getIDName(rec, name);
        out("name", text(name));
        byte[] g = new byte[8];
        getIDGender(rec, g);
        out("gender", text(g));
        byte[] nat = new byte[8];
        getIDNational(rec, nat);
        out("national", text(nat));
        byte[] shortRec = Arrays.copyOf(rec, 40);
        byte[] name2 = new byte[64];
        getIDName(shortRec, name2);
        out("name_shortrec", text(name2));
        // Permanent-residence and residence-permit methods leave the output alone.
        byte[] untouched = new byte[32];
        Arrays.fill(untouched, (byte) 0x5a);
        int sum = getResideEnglishName(rec, untouched) + getResideChineseName(rec, untouched)
                + getResideCardType(rec, untouched) + getGATName(rec, untouched)
                + getGATPassNumber(rec, untouched) + getGATCardType(rec, untouched);
        boolean same = true;
        for (byte b : untouched) same &= b == 0x5a;
        out("untouched", sum + ":" + same);
        byte[] type = new byte[1];
        out("typeret", GetCardType(rec, type));
        out("type", "[" + (char) type[0] + "]");
        byte[] shortPhoto = new byte[100];
        out("bmp_shortphoto", Wlt2bmpBuffer(shortPhoto, new byte[38862], 38862));
        out("bmp_claims_more", Wlt2bmpBuffer(new byte[1024], new byte[100], 38862));
        return 0;
    }

    public static void main(String[] args) {
        System.load(args[0]);
        int rc;
        switch (args[1]) {
            case "read": rc = readCard(args[2]); break;
            case "log": rc = logSetters(args[2]); break;
            case "arrays": rc = arrays(); break;
            default: rc = 2;
        }
        System.out.flush();
        System.exit(rc);
    }
}
