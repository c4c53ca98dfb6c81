<?xml version="1.0" encoding="utf-8"?>
<!-- Shows one day file of the run log as a table. Every value is copied with
     xsl:value-of, so it stays text whatever it holds. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="utf-8" indent="no"/>

  <xsl:template match="/">
    <html lang="zh-CN">
      <head>
        <meta http-equiv="Content-Type" content="text/html; charset=utf-8"/>
        <title>Pairwell 运行日志 <xsl:value-of select="log/Date"/></title>
        <style>
          body { margin: 16px; font: 14px/1.45 "Noto Sans CJK SC", "WenQuanYi Micro Hei", "WenQuanYi Zen Hei", "Microsoft YaHei", "SimSun", sans-serif; color: #1f2328; }
          h1 { font-size: 18px; }
          table { border-collapse: collapse; width: 100%; }
          th, td { padding: 4px 8px; border-bottom: 1px solid #e4e8ec; text-align: left; vertical-align: top; }
          th { background: #f3f5f7; white-space: nowrap; }
          td.num, th.num { text-align: right; }
          td.time { white-space: nowrap; }
          td.error { color: #a40e26; }
          .ok { color: #1a7f37; font-weight: 600; }
          .bad { color: #cf222e; font-weight: 600; }
          .warn { color: #9a6700; font-weight: 600; }
          tr.has-failures td { background: #fff4d6; }
          tr.has-failures td:first-child { box-shadow: inset 4px 0 #d4a72c; }
          tr.files td { padding-left: 40px; }
          tr.files summary { cursor: pointer; color: #0b5cad; font-size: 13px; }
          h4 { margin: 8px 0 2px; font-size: 13px; }
          ol { margin: 0; padding-left: 28px; }
          li, .roots div { font-family: monospace; font-size: 12px; word-break: break-all; }
          .roots { color: #57606a; }
        </style>
      </head>
      <body>
        <h1>Pairwell 运行日志 <xsl:value-of select="log/Date"/></h1>
        <xsl:choose>
          <xsl:when test="log/item">
            <table>
              <thead>
                <tr>
                  <th class="num">#</th>
                  <th>项目</th>
                  <th>类型</th>
                  <th>状态</th>
                  <th>错误</th>
                  <th class="num">新建</th>
                  <th class="num">新建失败</th>
                  <th class="num">更新</th>
                  <th class="num">更新失败</th>
                  <th class="num">删除</th>
                  <th class="num">删除失败</th>
                  <xsl:if test="log/item/VersionCount">
                    <th class="num">已存版本</th>
                  </xsl:if>
                  <th>开始</th>
                  <th>结束</th>
                  <th>用时</th>
                </tr>
              </thead>
              <tbody>
                <xsl:apply-templates select="log/item"/>
              </tbody>
            </table>
          </xsl:when>
          <xsl:otherwise>
            <p>这一天没有运行记录。</p>
          </xsl:otherwise>
        </xsl:choose>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="item">
    <!-- Any failed item, counted or listed: such a run must not pass for a clean one. -->
    <xsl:variable name="failed" select="boolean(NewFail | UpdateFail | DeleteFail |
        NewFailCount[. != '' and . != '0'] | UpdateFailCount[. != '' and . != '0'] |
        DeleteFailCount[. != '' and . != '0'])"/>
    <tr>
      <xsl:if test="$failed">
        <xsl:attribute name="class">has-failures</xsl:attribute>
      </xsl:if>
      <td class="num"><xsl:value-of select="position()"/></td>
      <td><b><xsl:value-of select="Project"/></b></td>
      <td><xsl:value-of select="ProcessType"/></td>
      <td>
        <xsl:attribute name="class">
          <xsl:choose>
            <xsl:when test="ProcessStatus = '完成' and $failed">warn</xsl:when>
            <xsl:when test="ProcessStatus = '完成'">ok</xsl:when>
            <xsl:when test="ProcessStatus = '中止'">bad</xsl:when>
          </xsl:choose>
        </xsl:attribute>
        <xsl:value-of select="ProcessStatus"/>
        <xsl:if test="ProcessStatus = '完成' and $failed"> · 有失败项</xsl:if>
        <xsl:if test="MoveCount and MoveCount != '0'"> · 移动 <xsl:value-of select="MoveCount"/></xsl:if>
      </td>
      <td class="error"><xsl:value-of select="Error"/></td>
      <xsl:call-template name="count">
        <xsl:with-param name="written" select="NewCount"/>
        <xsl:with-param name="paths" select="New"/>
      </xsl:call-template>
      <xsl:call-template name="count">
        <xsl:with-param name="written" select="NewFailCount"/>
        <xsl:with-param name="paths" select="NewFail"/>
        <xsl:with-param name="failure" select="true()"/>
      </xsl:call-template>
      <xsl:call-template name="count">
        <xsl:with-param name="written" select="UpdateCount"/>
        <xsl:with-param name="paths" select="Update"/>
      </xsl:call-template>
      <xsl:call-template name="count">
        <xsl:with-param name="written" select="UpdateFailCount"/>
        <xsl:with-param name="paths" select="UpdateFail"/>
        <xsl:with-param name="failure" select="true()"/>
      </xsl:call-template>
      <xsl:call-template name="count">
        <xsl:with-param name="written" select="DeleteCount"/>
        <xsl:with-param name="paths" select="Delete"/>
      </xsl:call-template>
      <xsl:call-template name="count">
        <xsl:with-param name="written" select="DeleteFailCount"/>
        <xsl:with-param name="paths" select="DeleteFail"/>
        <xsl:with-param name="failure" select="true()"/>
      </xsl:call-template>
      <!-- Only days with runs that keep versions have the column. -->
      <xsl:if test="/log/item/VersionCount">
        <td class="num"><xsl:value-of select="VersionCount"/></td>
      </xsl:if>
      <td class="time"><xsl:value-of select="BeginTime"/></td>
      <td class="time"><xsl:value-of select="EndTime"/></td>
      <td class="time"><xsl:value-of select="SpendTime"/></td>
    </tr>
    <xsl:if test="New | NewFail | Update | UpdateFail | Delete | DeleteFail | SourcePath | TargetPath">
      <tr class="files">
        <td colspan="{14 + count(/log/item[VersionCount][1])}">
          <details>
            <summary>文件列表 (<xsl:value-of select="count(New | NewFail | Update | UpdateFail | Delete | DeleteFail)"/>)</summary>
            <xsl:if test="SourcePath | TargetPath">
              <div class="roots">
                <xsl:if test="SourcePath">
                  <!-- A restore copies from the version folder. -->
                  <div>
                    <xsl:choose>
                      <xsl:when test="ProcessType = '恢复'">版本文件夹</xsl:when>
                      <xsl:otherwise>源文件夹</xsl:otherwise>
                    </xsl:choose>: <xsl:value-of select="SourcePath"/>
                  </div>
                </xsl:if>
                <xsl:if test="TargetPath">
                  <div>目标文件夹: <xsl:value-of select="TargetPath"/></div>
                </xsl:if>
              </div>
            </xsl:if>
            <xsl:call-template name="paths">
              <xsl:with-param name="title">新建</xsl:with-param>
              <xsl:with-param name="paths" select="New"/>
            </xsl:call-template>
            <xsl:call-template name="paths">
              <xsl:with-param name="title">新建失败</xsl:with-param>
              <xsl:with-param name="paths" select="NewFail"/>
              <xsl:with-param name="failure" select="true()"/>
            </xsl:call-template>
            <xsl:call-template name="paths">
              <xsl:with-param name="title">更新</xsl:with-param>
              <xsl:with-param name="paths" select="Update"/>
            </xsl:call-template>
            <xsl:call-template name="paths">
              <xsl:with-param name="title">更新失败</xsl:with-param>
              <xsl:with-param name="paths" select="UpdateFail"/>
              <xsl:with-param name="failure" select="true()"/>
            </xsl:call-template>
            <xsl:call-template name="paths">
              <xsl:with-param name="title">删除</xsl:with-param>
              <xsl:with-param name="paths" select="Delete"/>
            </xsl:call-template>
            <xsl:call-template name="paths">
              <xsl:with-param name="title">删除失败</xsl:with-param>
              <xsl:with-param name="paths" select="DeleteFail"/>
              <xsl:with-param name="failure" select="true()"/>
            </xsl:call-template>
          </details>
        </td>
      </tr>
    </xsl:if>
  </xsl:template>

  <!-- The written count, or the number of listed paths when none was written. -->
  <xsl:template name="count">
    <xsl:param name="written"/>
    <xsl:param name="paths"/>
    <xsl:param name="failure" select="false()"/>
    <xsl:variable name="value">
      <xsl:choose>
        <xsl:when test="$written">
          <xsl:value-of select="$written"/>
        </xsl:when>
        <xsl:when test="$paths">
          <xsl:value-of select="count($paths)"/>
        </xsl:when>
      </xsl:choose>
    </xsl:variable>
    <td>
      <xsl:attribute name="class">
        <xsl:choose>
          <xsl:when test="$failure and string($value) != '' and string($value) != '0'">num bad</xsl:when>
          <xsl:otherwise>num</xsl:otherwise>
        </xsl:choose>
      </xsl:attribute>
      <xsl:value-of select="$value"/>
    </td>
  </xsl:template>

  <xsl:template name="paths">
    <xsl:param name="title"/>
    <xsl:param name="paths"/>
    <xsl:param name="failure" select="false()"/>
    <xsl:if test="$paths">
      <h4>
        <xsl:if test="$failure">
          <xsl:attribute name="class">bad</xsl:attribute>
        </xsl:if>
        <xsl:value-of select="$title"/> (<xsl:value-of select="count($paths)"/>)
      </h4>
      <ol>
        <xsl:for-each select="$paths">
          <li><xsl:value-of select="."/></li>
        </xsl:for-each>
      </ol>
    </xsl:if>
  </xsl:template>
</xsl:stylesheet>
